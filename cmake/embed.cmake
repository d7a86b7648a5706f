# Resources 101 (the page) and 102 (the payload pack) are embedded into each
# executable by a generated assembly file; platform/linux/resources.cpp looks
# them up by id through the symbols it defines.

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

# vellumo_embed_resources(<target> <page> <pack> [<target making the pack>]):
# links the two files into <target> as resources 101 and 102.
function(vellumo_embed_resources target page pack)
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
  if(ARGC GREATER 3)
    add_dependencies(${target} ${ARGV3})
  endif()
endfunction()

if(VELLUMO_PACK)
  set(VELLUMO_BUILD_PACK "${VELLUMO_PACK}")
else()
  set(VELLUMO_BUILD_PACK "${CMAKE_BINARY_DIR}/payload.vpak")
endif()
