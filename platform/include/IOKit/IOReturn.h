// IOReturn.h: the status codes of the device registry calls.
//
// The codes keep the platform's values; they are negative when read as the
// signed 32-bit OSStatus the system passes them on as.
#ifndef VZ_IOKIT_IORETURN_H
#define VZ_IOKIT_IORETURN_H

typedef int           kern_return_t;
typedef kern_return_t IOReturn;

#define KERN_SUCCESS 0
#define kIOReturnSuccess ((IOReturn)0)
#define kIOReturnError ((IOReturn)0xe00002bc)       // general error, a damaged registry
#define kIOReturnNoMemory ((IOReturn)0xe00002bd)    // an object could not be made
#define kIOReturnNoDevice ((IOReturn)0xe00002c0)    // no such entry (the root has no parent)
#define kIOReturnBadArgument ((IOReturn)0xe00002c2) // a null or foreign handle, an unknown plane
#define kIOReturnNotFound ((IOReturn)0xe00002f0)    // a value the caller needs is missing

#endif
