#pragma once

// Every message the launcher can print. Plain ASCII; the formatted ones carry one %ls.
constexpr char message_header_missing[] = "Error, couldn't find attached data header.";
constexpr char message_allocation_failed[] = "Error, couldn't allocate memory.";
constexpr char message_decode_failed[] = "Error, couldn't decode attached data.";
constexpr char message_handler_registration_failed[] = "Error, failed to register signal handler.";
constexpr char message_unpack_failed[] = "Error, couldn't unpack file to target path.";
constexpr char message_launch_failed[] = "Error, couldn't launch child";
constexpr char message_lock_failed[] = "Error, couldn't lock target directory";
constexpr char message_open_failed[] = "Error, failed to open '%ls' for writing.\n";
constexpr char message_expand_failed[] = "Error, couldn't runtime expand spec '%ls'.\n";
