# Resources 101 (the page) and 102 (the payload pack) are embedded into each
# executable: on Linux by a generated assembly file, whose symbols
# platform/linux/resources.cpp looks up by id; on Windows by a generated
# resource script (windres), with the icon, the version information and the
# application manifest beside them.

set(VELLUMO_PAGE "${CMAKE_SOURCE_DIR}/resources/page.html")
set(VELLUMO_PAYLOAD_NAMES "VellumoCompanion.exe" "Vellumo.py" "SETUP.md")

# vellumo_pack(<output> <folder>): a pack of the payload names from <folder>.
function(vellumo_pack output folder)
  set(inputs)
  foreach(name IN LISTS VELLUMO_PAYLOAD_NAMES)
    list(APPEND inputs "${folder}/${name}")
  endforeach()
  add_custom_command(
    OUTPUT "${output}"
    COMMAND vpak "${output}" "${folder}" ${VELLUMO_PAYLOAD_NAMES}
    DEPENDS vpak ${inputs}
    COMMENT "Packing the payload of ${folder}"
    VERBATIM)
endfunction()

function(vellumo_embed_resources_linux target page pack)
  set(asm "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.S")
  file(WRITE "${asm}.in" [=[
    .section .rodata.vellumo_resources,"a"
    .balign 16
    .globl vellumo_resource_101_begin
vellumo_resource_101_begin:
    .incbin "@page@"
    .globl vellumo_resource_101_end
vellumo_resource_101_end:
    .balign 16
    .globl vellumo_resource_102_begin
vellumo_resource_102_begin:
    .incbin "@pack@"
    .globl vellumo_resource_102_end
vellumo_resource_102_end:
    .section .note.GNU-stack,"",@progbits
]=])
  configure_file("${asm}.in" "${asm}" @ONLY)
  set_source_files_properties("${asm}" PROPERTIES OBJECT_DEPENDS "${page};${pack}")
  target_sources(${target} PRIVATE "${asm}")
endfunction()

# The version information's texts, read from the descriptor so that they are
# written in one place only.
file(READ "${CMAKE_SOURCE_DIR}/engine/globals.cpp" descriptor_source)
foreach(field name version short_name)
  if(NOT descriptor_source MATCHES "info\\.${field} = \"([^\"]*)\";")
    message(FATAL_ERROR "engine/globals.cpp sets no info.${field}")
  endif()
  set(VELLUMO_PRODUCT_${field} "${CMAKE_MATCH_1}")
endforeach()
string(REPLACE "." "," VELLUMO_VERSION_COMMAS "${VELLUMO_PRODUCT_version}")

function(vellumo_embed_resources_windows target page pack)
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc")
  set(icon "${CMAKE_SOURCE_DIR}/resources/vellumo-setup.ico")
  set(manifest "${CMAKE_SOURCE_DIR}/resources/vellumo-setup.manifest")
  set(file_name "${target}.exe")
  configure_file("${CMAKE_SOURCE_DIR}/resources/resources.rc.in" "${rc}" @ONLY)
  set_source_files_properties("${rc}" PROPERTIES
    OBJECT_DEPENDS "${page};${pack};${icon};${manifest}")
  target_sources(${target} PRIVATE "${rc}")
endfunction()

# vellumo_embed_resources(<target> <page> <pack> [<target making the pack>]):
# links the two files into <target> as resources 101 and 102.
function(vellumo_embed_resources target page pack)
  if(WIN32)
    vellumo_embed_resources_windows(${target} "${page}" "${pack}")
  else()
    vellumo_embed_resources_linux(${target} "${page}" "${pack}")
  endif()
  if(ARGC GREATER 3)
    add_dependencies(${target} ${ARGV3})
  endif()
endfunction()

if(VELLUMO_PACK)
  set(VELLUMO_BUILD_PACK "${VELLUMO_PACK}")
else()
  set(VELLUMO_BUILD_PACK "${CMAKE_BINARY_DIR}/payload.vpak")
endif()
