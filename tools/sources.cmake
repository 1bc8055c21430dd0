# The sources of talvik, shared by the Linux build (tools/CMakeLists.txt) and the Windows
# one (tools/windows/CMakeLists.txt); each adds its own platform file. One list per room;
# includes point one way between them: cli -> pack, list -> app_folder, image -> host.
set(talvik_host_sources host/file_bytes.cpp host/json_text.cpp host/progress_line.cpp host/tool_messages.cpp
                        host/unicode_text.cpp)
set(talvik_image_sources
    image/attached_data_identity.cpp image/constants_reader.cpp image/descriptor_fields.cpp image/pe_file.cpp
    image/pe_layout.cpp image/stub_check.cpp)
set(talvik_image_writer_sources image/embedded_stub.S image/embedded_stub.cpp image/image_file.cpp
                                image/image_json.cpp image/image_writer.cpp)
set(talvik_app_folder_sources app_folder/exclude_pattern.cpp app_folder/folder_scan.cpp
                              app_folder/upcase_table.cpp app_folder/windows_names.cpp)
set(talvik_pack_sources pack/image_metadata.cpp pack/pack.cpp pack/pack_options.cpp pack/pending_output.cpp
                        pack/template_check.cpp)
set(talvik_list_sources list/list_command.cpp)
set(talvik_cli_sources cli/cli.cpp cli/man_page.cpp cli/usage.cpp)

# What the build's check of the stub needs: reading PE images and their descriptors.
set(talvik_pe_sources ${talvik_image_sources})
set(talvik_tool_sources ${talvik_host_sources} ${talvik_image_writer_sources} ${talvik_app_folder_sources}
                        ${talvik_pack_sources} ${talvik_list_sources} ${talvik_cli_sources})
list(TRANSFORM talvik_pe_sources PREPEND ${TALVIK_ROOT}/tools/)
list(TRANSFORM talvik_tool_sources PREPEND ${TALVIK_ROOT}/tools/)
