include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
vanta_host_header_library(CLI11::CLI11 CLI)
set(CLI11_FOUND TRUE)
