/* A program that uses the installed library: opens and closes it, and checks a result code. */
#include <stdio.h>
#include <zeb.h>

int main(void) {
    if (ZEBOpen(ZEB_API_VERSION) != 0 || ZEBOpen(2) != ZEBERR_BAD_VERSION || ZEBClose() != 0) {
        puts("the installed library misbehaves");
        return 1;
    }
    puts("consumer ok");
    return 0;
}
