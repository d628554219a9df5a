# korvix_widl(TARGET name IDL file.idl [TLB]) compiles an IDL file with the
# MinGW widl of this architecture into a header, the GUID definitions and,
# with TLB, a type library for this architecture. Defines:
#   <name>          interface library with the generated header's folder
#   <name>_guids    static library with the interface and class ids
#   <name>_TLB      variable: path of the type library
function(korvix_widl)
  cmake_parse_arguments(W "TLB" "TARGET;IDL" "" ${ARGN})
  get_filename_component(base ${W_IDL} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/widl)
  file(MAKE_DIRECTORY ${out})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch --win64)
    set(winlib /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  else()
    set(arch --win32)
    set(winlib /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  endif()
  set(flags -I/usr/include/wine/wine/windows -L${winlib} ${arch})
  set(outputs ${out}/${base}.h ${out}/${base}_i.c)
  set(commands
    COMMAND ${KORVIX_WIDL} ${flags} -h -o ${out}/${base}.h ${W_IDL}
    COMMAND ${KORVIX_WIDL} ${flags} -u -o ${out}/${base}_i.c ${W_IDL})
  if(W_TLB)
    list(APPEND outputs ${out}/${base}.tlb)
    list(APPEND commands COMMAND ${KORVIX_WIDL} ${flags} -t -o ${out}/${base}.tlb ${W_IDL})
    set(${W_TARGET}_TLB ${out}/${base}.tlb PARENT_SCOPE)
  endif()
  add_custom_command(OUTPUT ${outputs} ${commands} DEPENDS ${W_IDL} VERBATIM)
  add_custom_target(${W_TARGET}_gen DEPENDS ${outputs})
  add_library(${W_TARGET} INTERFACE)
  target_include_directories(${W_TARGET} INTERFACE ${out})
  add_dependencies(${W_TARGET} ${W_TARGET}_gen)
  add_library(${W_TARGET}_guids STATIC ${out}/${base}_i.c)
  target_include_directories(${W_TARGET}_guids PUBLIC ${out})
endfunction()
