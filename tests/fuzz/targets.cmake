# The fuzz targets, each built from <name>.cpp; read by the fuzz project and by
# the test suite, which runs every one briefly.
set(HALDEN_FUZZ_TARGETS
  fuzz_command_reader
  fuzz_ini_store
  fuzz_library_exports
  fuzz_sim_requests
  fuzz_orvelctl_arguments
  fuzz_agent_commands
  fuzz_brimlet_send_arguments
  fuzz_posix_replies)
