# add_resource_module(TARGET RC_FILE OUTPUT_DIR OUTPUT_NAME): a resource-only DLL (no code, no
# entry point) built from one resource script, written as OUTPUT_DIR/OUTPUT_NAME.
function(add_resource_module target rc_file output_dir output_name)
  add_library(${target} MODULE ${rc_file})
  set_target_properties(${target} PROPERTIES
    LINKER_LANGUAGE C PREFIX "" SUFFIX "" OUTPUT_NAME ${output_name} LIBRARY_OUTPUT_DIRECTORY ${output_dir})
  target_link_options(${target} PRIVATE -nostdlib -Wl,--entry=0)
endfunction()
