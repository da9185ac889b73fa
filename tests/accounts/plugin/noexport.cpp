// A shared library without the plug-in query.
extern "C" int SomethingElse() { return 1; }
