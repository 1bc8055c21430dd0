# The sources of talvik, shared by the Linux build (tools/CMakeLists.txt) and the Windows
# one (tools/windows/CMakeLists.txt); each adds its own platform file.
set(talvik_pe_sources attached_data_identity.cpp image_descriptor.cpp pe_file.cpp pe_layout.cpp stub_check.cpp)
set(talvik_tool_sources
    app_folder.cpp cli.cpp embedded_stub.S embedded_stub.cpp file_bytes.cpp image_file.cpp image_list.cpp
    image_metadata.cpp image_writer.cpp man_page.cpp pack.cpp pack_options.cpp pending_output.cpp progress.cpp
    report.cpp template_check.cpp text.cpp usage.cpp
    # Windows' rules for names and --exclude patterns.
    exclude_pattern.cpp upcase_table.cpp windows_names.cpp)
list(TRANSFORM talvik_pe_sources PREPEND ${TALVIK_ROOT}/tools/)
list(TRANSFORM talvik_tool_sources PREPEND ${TALVIK_ROOT}/tools/)
