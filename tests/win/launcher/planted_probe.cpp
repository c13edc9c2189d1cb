// A DLL that stands for one planted in a download folder: the DLL search
// test copies it under several names and asks for them by name.
extern "C" __declspec(dllexport) int PlantedProbe(void) { return 42; }
