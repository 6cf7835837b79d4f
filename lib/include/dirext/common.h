/* libdirext: declarations shared by every area of the library. */
#ifndef DIREXT_COMMON_H
#define DIREXT_COMMON_H

#if defined(DIREXT_BUILDING_LIBRARY)
#define DIREXT_API __attribute__((visibility("default")))
#else
#define DIREXT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Releases a plain block that the library allocated and handed to the caller.
 * Does nothing for NULL. */
DIREXT_API void ldapx_memfree(void *p);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_COMMON_H */
