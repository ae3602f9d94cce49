# The command line's in-process tests (tests/integration/cli_test.cpp) run RunCli and its parts,
# so the integration test program links the command line's library. Included from the
# top-level CMakeLists.txt once tests/ has made its targets.
if(TARGET integration_tests)
  target_link_libraries(integration_tests PRIVATE vanta_cli)
endif()
