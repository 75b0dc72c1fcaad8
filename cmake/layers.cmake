# The layers below the window must stay free of Qt: they are driven and tested
# without a display. Their include path never holds Qt's headers, so a Qt include
# there fails to compile; this check also stops anyone linking Qt into them.
function(px_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

function(px_check_core_layers)
  foreach(target IN LISTS ARGN)
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES INCLUDE_DIRECTORIES)
      get_target_property(values ${target} ${property})
      if(values AND values MATCHES "Qt[0-9]*::|[Qq]t6")
        message(FATAL_ERROR "${target} must not use Qt (${property}: ${values})")
      endif()
    endforeach()
  endforeach()
endfunction()
