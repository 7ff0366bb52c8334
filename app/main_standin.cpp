/* main_standin.cpp: the runtime's process entry, vr_main_internal, until
 * the start-up layer brings its own; it runs the launcher body unchanged.
 * The build links it into launchers only while the kernel lacks one.
 */

int user_main(int argc, char **argv);

int vr_main_internal(int argc, char **argv) { return user_main(argc, argv); }
