// Stands in for ORN_Client.exe: ends with a status the tests recognise.
int main()
{
    return 3;
}
