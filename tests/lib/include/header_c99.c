/* Built with -std=c99: the public header must stay valid C. */
#include <dirext.h>

#include <stdlib.h>

int main(void)
{
    ldapx_memfree(NULL);
    ldapx_memfree(malloc(16));
    return 0;
}
