// A DLL for the tests to load and then rename while it is in use.
extern "C" __declspec(dllexport) int platformTestLibraryValue()
{
    return 42;
}
