# `cmake --build <Windows build> --target package`: vantaLink-<version>-setup.exe with makensis.
find_program(VANTA_MAKENSIS makensis)
if(VANTA_MAKENSIS)
  set(setup ${PROJECT_BINARY_DIR}/vantaLink-${PROJECT_VERSION}-setup.exe)
  set(stage ${PROJECT_BINARY_DIR}/installer)
  add_custom_command(
    OUTPUT ${setup}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vantalink> $<TARGET_FILE:vantalink-cli> ${stage}
    COMMAND ${VANTA_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBIN=${stage}
            -DICON=${PROJECT_SOURCE_DIR}/win32/vantalink.ico -DOUT=${setup}
            ${CMAKE_CURRENT_LIST_DIR}/vantalink.nsi
    DEPENDS vantalink vantalink-cli ${CMAKE_CURRENT_LIST_DIR}/vantalink.nsi
    VERBATIM)
  add_custom_target(package DEPENDS ${setup})
endif()
