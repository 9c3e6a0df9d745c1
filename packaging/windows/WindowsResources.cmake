# korvel_windows_resource(TARGET DESCRIPTION): the program's icon and version resource in a Windows
# executable (Explorer's properties, the taskbar, Apps & Features).
function(korvel_windows_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(KORVEL_ICO ${PROJECT_SOURCE_DIR}/packaging/windows/korvel.ico)
  set(KORVEL_DESCRIPTION "${description}")
  set(KORVEL_EXE ${target})
  set(_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
endfunction()
