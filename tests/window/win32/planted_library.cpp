// A library that anyone could leave beside the program or in the current folder under a name
// that the program asks the system for: the system-library tests check that it is never the
// one loaded.
extern "C" __declspec(dllexport) int KavoniPlanted() {
  return 1;
}
