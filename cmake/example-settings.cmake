# Makes example_settings.h from scripts/example.ini, the text the monitor
# writes where no settings file exists yet. Included by the build, and run
# by scripts/lint: cmake -DSOURCE_DIR=<project> -DOUTPUT=<header> -P <this>
file(READ ${SOURCE_DIR}/scripts/example.ini EXAMPLE_SETTINGS)
configure_file(${SOURCE_DIR}/src/settings/example_settings.h.in ${OUTPUT} @ONLY)
