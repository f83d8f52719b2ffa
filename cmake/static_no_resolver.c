/* Linked into the static cross-built test executables only. googletest's result
   streaming (never used here) refers to getaddrinfo, and glibc warns at every
   static link that pulls its resolver in. Defining the pair here keeps
   glibc's out of the link, and its warning with it. */
#include <netdb.h>

int getaddrinfo(const char *node, const char *service, const struct addrinfo *hints, struct addrinfo **result)
{
    (void)node;
    (void)service;
    (void)hints;
    *result = 0;
    return EAI_FAIL;
}

void freeaddrinfo(struct addrinfo *list)
{
    (void)list;
}
