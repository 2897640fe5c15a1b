// Greeter.cpp: the executable of the small framework that the bundle tests
// install as Greeter.framework under a temporary root and load.
extern "C" int VZGreeterAnswer(void)
{
    return 42;
}
