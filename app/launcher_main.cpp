/* launcher_main.cpp: the process entry of a launcher executable.
 *
 * main hands the command line to the runtime's entry, which runs the
 * launcher body (user_main, launcher.cpp) and returns its exit status.
 */

int vr_main_internal(int argc, char **argv);

int main(int argc, char **argv) { return vr_main_internal(argc, argv); }
