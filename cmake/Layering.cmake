# The build keeps the layering: a core target never links Qt Widgets, the other
# program's targets or the app support's Qt side, directly or through another
# target. Checked when the project is configured.
# What target links and what it hands on to its users (a shared library's
# private links stay inside it).
function(scope_collect_links target property out)
  set(seen ${${out}})
  get_target_property(links ${target} ${property})
  foreach(dependency IN LISTS links)
    if(dependency AND NOT dependency IN_LIST seen AND NOT dependency MATCHES "^\\$<")
      list(APPEND seen ${dependency})
      if(TARGET ${dependency})
        scope_collect_links(${dependency} INTERFACE_LINK_LIBRARIES seen)
      endif()
    endif()
  endforeach()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(scope_forbid_links target)
  set(links "")
  scope_collect_links(${target} LINK_LIBRARIES links)
  foreach(forbidden IN LISTS ARGN)
    if(forbidden IN_LIST links)
      message(FATAL_ERROR "${target} must not link ${forbidden} (it does, directly or through another target)")
    endif()
  endforeach()
endfunction()

scope_forbid_links(capture_core Qt6::Widgets app_support loader_core loader_app capture_app ftd2xx_core)
scope_forbid_links(loader_core Qt6::Core Qt6::Gui Qt6::Widgets app_support capture_core capture_app loader_app
                   ftd2xx_core)
scope_forbid_links(app_ports Qt6::Core Qt6::Gui Qt6::Widgets)
scope_forbid_links(capture_app loader_core loader_app ftd2xx_core)
scope_forbid_links(loader_app capture_core capture_app ftd2xx_core)
scope_forbid_links(scopectl Qt6::Widgets app_support capture_app loader_app ftd2xx_core)
