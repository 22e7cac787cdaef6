# pictarre_add_library(name SOURCES ...): one of the program's libraries, the static target
# pictarre_<name> with the alias Pictarre::<name>; its headers are included as "<name>/x.h".
function(pictarre_add_library name)
  cmake_parse_arguments(L "" "" "SOURCES" ${ARGN})
  qt_add_library(pictarre_${name} STATIC ${L_SOURCES})
  add_library(Pictarre::${name} ALIAS pictarre_${name})
  target_include_directories(pictarre_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
