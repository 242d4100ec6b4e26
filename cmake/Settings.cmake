# One interface target carries the compile settings of every target of the project.
add_library(qy_settings INTERFACE)
target_compile_features(qy_settings INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(qy_settings INTERFACE -Wall -Wextra)
if(QY_WERROR)
  target_compile_options(qy_settings INTERFACE -Werror)
endif()
# No silent conversion of a QByteArray to const char* or of a QString to a QUrl: bytes and addresses
# are converted where the code says how.
target_compile_definitions(qy_settings INTERFACE
  QT_NO_CAST_FROM_BYTEARRAY QT_NO_URL_CAST_FROM_STRING QT_NO_FOREACH
  QT_DISABLE_DEPRECATED_BEFORE=0x060000)
target_include_directories(qy_settings INTERFACE ${PROJECT_SOURCE_DIR}/src)
if(QY_SANITIZE)
  target_compile_options(qy_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(qy_settings INTERFACE -fsanitize=address,undefined)
endif()
if(QY_TSAN)
  target_compile_options(qy_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(qy_settings INTERFACE -fsanitize=thread)
endif()

# qy_layer(NAME [LIBS ...]): a static library made of every source file of the current folder.
function(qy_layer name)
  cmake_parse_arguments(L "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER srcs INCLUDE REGEX "\\.cpp$")
  if(srcs)
    add_library(${name} STATIC ${srcs})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_link_libraries(${name} PUBLIC qy_settings ${L_LIBS})
  else()
    # A layer whose sources have not landed yet still links.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE qy_settings ${L_LIBS})
  endif()
endfunction()
