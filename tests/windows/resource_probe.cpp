// Linked with nothing but the launcher's resource object, so that the
// resources can be checked in a built executable even where the launcher
// itself cannot be built.
int main()
{
    return 0;
}
