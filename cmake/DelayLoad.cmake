# System DLLs that are not KnownDLLs are searched for beside the program before
# System32, and the program is usually started from a Downloads folder where
# anyone may leave a DLL of the same name. These are imported through delay-load
# tables instead of the import table, so that none of them is resolved before
# the process entry has restricted the DLL search to System32. This list is the
# only place that names them.
set(ORIVANTA_DELAY_LOADED_DLLS winhttp bcrypt d2d1 dwrite iphlpapi oleacc wintrust crypt32)

# Calls must go through each function's thunk. wincrypt.h alone declares its
# functions dllimport, so code calls crypt32 through the address slot directly,
# and the x86 linker then drops the thunk code that the slot's first value points
# to: the slot stays 0, and the first call jumps there instead of loading the DLL.
add_compile_definitions(WINIMPM=)

# The functions that the toolchain's import library of a DLL names, as the
# linker sees them: every function has a code thunk, "T WinHttpOpen" on x64 and
# "T _WinHttpOpen@20" on x86 (returned without the leading underscore). Exported
# data (oleacc's IID_ and LIBID_ constants) cannot be delay-loaded and is left out.
function(orivanta_import_library_functions dll out_var)
  find_library(ORIVANTA_IMPORT_LIB_${dll} NAMES ${dll} REQUIRED)
  execute_process(COMMAND ${CMAKE_NM} ${ORIVANTA_IMPORT_LIB_${dll}}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" thunks "${symbols}")
  set(functions)
  foreach(thunk IN LISTS thunks)
    string(REGEX REPLACE "^[0-9a-f]+ T " "" name "${thunk}")
    if(name MATCHES "^_?(IID|LIBID)_")
      continue()
    endif()
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "^_" "" name "${name}")
    endif()
    list(APPEND functions ${name})
  endforeach()
  set(${out_var} ${functions} PARENT_SCOPE)
endfunction()

# Makes lib<dll>-delay.a: every function of the DLL, resolved on its first call
# by the runtime's delay-load helper. Defines the imported library delayload::<dll>.
function(orivanta_add_delay_import dll)
  orivanta_import_library_functions(${dll} functions)
  set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
  foreach(name IN LISTS functions)
    string(APPEND def "  ${name}\n")
  endforeach()
  set(def_file ${CMAKE_BINARY_DIR}/delayload/${dll}.def)
  file(CONFIGURE OUTPUT ${def_file} CONTENT "${def}" @ONLY)

  set(library ${CMAKE_BINARY_DIR}/delayload/lib${dll}-delay.a)
  # x86 names carry their stdcall decoration; the DLL exports them undecorated.
  set(kill_at)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kill_at --kill-at)
  endif()
  add_custom_command(OUTPUT ${library}
    COMMAND ${CMAKE_DLLTOOL} ${kill_at} --input-def ${def_file} --dllname ${dll}.dll --output-delaylib ${library}
    DEPENDS ${def_file}
    COMMENT "Delay-load library for ${dll}.dll")
  add_custom_target(delayload_${dll} DEPENDS ${library})
  add_library(delayload::${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(delayload::${dll} PROPERTIES IMPORTED_LOCATION ${library})
  add_dependencies(delayload::${dll} delayload_${dll})
endfunction()

set(ORIVANTA_DELAY_LOAD_LIBS)
foreach(dll IN LISTS ORIVANTA_DELAY_LOADED_DLLS)
  orivanta_add_delay_import(${dll})
  list(APPEND ORIVANTA_DELAY_LOAD_LIBS delayload::${dll})
endforeach()
