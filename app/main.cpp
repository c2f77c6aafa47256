#include <cstdio>
int main() { std::puts("tilvex"); return 0; }
