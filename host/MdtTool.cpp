#include <cstdio>

#include "Tools.h"

// TEMPORARY: the description-table tools land with the description table.
int mdtTool(int, char**) {
    puts("qmhost mdt: not available yet");
    return 2;
}
