# The layers below the windows never link the widget modules: their controllers talk to the windows
# through view interfaces, and the windows (src/ui) alone are widgets. qy_check_no_widgets walks
# each named target's link closure at configure time and stops the configure when a widget or
# web-view module is in it, naming the path that brings it in.

function(_qy_walk_links root target path)
  get_property(seen GLOBAL PROPERTY "_QY_SEEN_${root}_${target}")
  if(seen)
    return()
  endif()
  set_property(GLOBAL PROPERTY "_QY_SEEN_${root}_${target}" TRUE)
  set(libs)
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(direct ${target} LINK_LIBRARIES)
    if(direct)
      list(APPEND libs ${direct})
    endif()
  endif()
  get_target_property(iface ${target} INTERFACE_LINK_LIBRARIES)
  if(iface)
    list(APPEND libs ${iface})
  endif()
  foreach(lib IN LISTS libs)
    if(lib MATCHES "^Qt6?::(Widgets|WebEngineWidgets|OpenGLWidgets|PrintSupport)$")
      message(FATAL_ERROR "${path} -> ${lib}: a layer below the windows links a widget module")
    endif()
    # Qt's own targets are checked by name above; their dependencies are Qt's business.
    if(TARGET ${lib} AND NOT lib MATCHES "^Qt6?::")
      _qy_walk_links(${root} ${lib} "${path} -> ${lib}")
    endif()
  endforeach()
endfunction()

function(qy_check_no_widgets)
  foreach(target IN LISTS ARGN)
    _qy_walk_links(${target} ${target} ${target})
  endforeach()
endfunction()
