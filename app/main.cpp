// vellumo-setup: the setup program's entry point.
#include "engine/product_info.hpp"

int main() { return 0; }
