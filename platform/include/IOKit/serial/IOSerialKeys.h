// IOSerialKeys.h: the class and properties of a serial port's BSD client.
#ifndef VZ_IOKIT_SERIAL_IOSERIALKEYS_H
#define VZ_IOKIT_SERIAL_IOSERIALKEYS_H

#define kIOSerialBSDServiceValue "IOSerialBSDClient"
#define kIOSerialBSDTypeKey "IOSerialBSDClientType"
#define kIOSerialBSDModemType "IOModemSerialStream"
#define kIOSerialBSDRS232Type "IORS232SerialStream"
#define kIOTTYDeviceKey "IOTTYDevice"
#define kIOTTYBaseNameKey "IOTTYBaseName"
#define kIOCalloutDeviceKey "IOCalloutDevice"
#define kIODialinDeviceKey "IODialinDevice"

#endif
