/* An application of the installed library: the version it was built
 * against, and a start and stop of the library (no station, so nothing is
 * sent). */
#include <stdio.h>

#include "qapi.h"

int main(void) {
    if (QAPI_Stack_initialize(0) != 0) return 1;
    QAPI_Stack_release();
    printf("qapi %s %d\n", QAPI_VERSION_STRING, QAPI_VERSION_NUMBER);
    return 0;
}
