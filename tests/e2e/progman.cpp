// A stand-in for the shell's module: only its string 1, the shell window's title, is read.
int main()
{
    return 0;
}
