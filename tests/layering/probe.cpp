// Compiled against one layer's library with PROBE_HEADER naming a header of
// another folder: the layering test expects this to fail for every folder
// above the layer and to succeed for the layer itself.
#include PROBE_HEADER

int main() { return 0; }
