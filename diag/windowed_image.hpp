#pragma once

// Whether the running image is a windowed launcher: its PE header says the GUI subsystem.
// talvik pack --windowed changes only that field, so the image asks its own header rather
// than a build constant.
bool running_image_is_windowed();
