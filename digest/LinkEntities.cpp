// LinkEntities.cpp: the builders of a service's link entities (interface, PPP,
// modem, AirPort, Ethernet), the constant PPP option and modem defaults, and
// the version flags that choose among the PPP defaults.
//
// The version flags are recomputed from the system version by every call of
// MoreSCGetDefaultPPPOptions and read only by MoreSCCreatePPPEntity, which
// calls it first; so the flags the PPP builder reads are always those of the
// running system.
#include "VaviVAZDigest.h"

#include "MoreCFQ.h"
#include "MoreSCSystemVersion.h"
#include "RequiredField.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cstddef>
#include <iterator>

// Keys and values of the system's own, not schema constants.
#define kHardwareVariantKey CFSTR("HardwareVariant")
#define kDisconnectOnFastUserSwitchKey CFSTR("DisconnectOnFastUserSwitch")
#define kPPPLogfileFromTenThreeFive CFSTR("/var/log/ppp.log")
#define kPPPLogfileBeforeTenThreeFive CFSTR("/tmp/ppp.log")

// Field order: dialOnDemand, idleReminder, idleReminderTimer, disconnectOnIdle,
// disconnectOnIdleTimer, disconnectOnLogout, commRedialEnabled,
// commRedialCount, commRedialInterval, lcpEchoEnabled, ipcpCompressionVJ,
// commDisplayTerminalWindow, verboseLogging.
const MoreSCPPPOptions kMoreSCPPPOptionsDefaultTenOne = {
    false, false, 1800, true, 900, true, true, 1, 30, true, true, false, false};
const MoreSCPPPOptions kMoreSCPPPOptionsDefaultTenTwoAndLater = {
    false, false, 1800, true, 600, true, true, 1, 5, true, true, false, true};
const MoreSCPPPOptions kMoreSCPPPoEOptionsDefaultTenTwoAndLater = {
    false, false, 1800, false, 1800, true, true, 1, 5, true, true, false, false};

// Field order: connectionScript, errorCorrectionAndCompression, speaker,
// pulseDial, waitForDialTone, supportsHold.
const MoreSCModemDigest kMoreSCModemDigestDefault = {NULL, true, true, false, true, false};

Boolean gTenTwoOrLater       = false;
Boolean gTenThreeOrLater     = false;
Boolean gTenThreeFiveOrLater = false;
Boolean gTenFourOrLater      = false;

const MoreSCPPPOptions *MoreSCGetDefaultPPPOptions(Boolean pppoe) noexcept
{
    const MoreSCPPPOptions *result = NULL;

    gTenTwoOrLater       = MoreSCIsTenTwoOrLater();
    gTenThreeOrLater     = MoreSCIsTenThreeOrLater();
    gTenThreeFiveOrLater = MoreSCIsTenThreeFiveOrLater();
    gTenFourOrLater      = MoreSCIsTenFourOrLater();

    // 10.1 knows no PPPoE defaults of its own.
    if (!gTenTwoOrLater) {
        result = &kMoreSCPPPOptionsDefaultTenOne;
    } else if (pppoe) {
        result = &kMoreSCPPPoEOptionsDefaultTenTwoAndLater;
    } else {
        result = &kMoreSCPPPOptionsDefaultTenTwoAndLater;
    }
    return result;
}

OSStatus MoreSCCreateInterfaceEntity(const MoreSCInterfaceDigest *digest,
                                     CFMutableDictionaryRef      *entity) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef result = NULL; // owned until handed over

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);

    VZ_ASSERT(digest->deviceName != NULL);
    VZ_ASSERT(digest->userDefinedName != NULL);
    if (err == noErr) {
        CFDictionarySetValue(result, kSCPropNetInterfaceDeviceName, digest->deviceName);
        CFDictionarySetValue(result, kSCPropUserDefinedName, digest->userDefinedName);
    }

    VZ_ASSERT_FIELD_IS_ONE_OF(digest->hardware, CFEqual(digest->hardware, kSCEntNetAirPort) ||
                                                    CFEqual(digest->hardware, kSCEntNetEthernet) ||
                                                    CFEqual(digest->hardware, kSCEntNetModem) ||
                                                    CFEqual(digest->hardware, kSCEntNetFireWire));
    if (err == noErr) CFDictionarySetValue(result, kSCPropNetInterfaceHardware, digest->hardware);

    // Only a modem can hold a call; the flag means nothing for other hardware.
    if ((err == noErr) && CFEqual(digest->hardware, kSCEntNetModem) && digest->supportsHold) {
        err = CFQDictionarySetNumber(result, kSCPropNetInterfaceSupportsModemOnHold, 1);
    }

    VZ_ASSERT_FIELD_IS_ONE_OF(digest->type,
                              CFEqual(digest->type, kSCValNetInterfaceTypeEthernet) ||
                                  CFEqual(digest->type, kSCValNetInterfaceTypePPP) ||
                                  CFEqual(digest->type, kSCValNetInterfaceTypeFireWire));
    if (err == noErr) CFDictionarySetValue(result, kSCPropNetInterfaceType, digest->type);

    if (digest->subType != NULL) {
        VZ_ASSERT(CFEqual(digest->type, kSCValNetInterfaceTypePPP));
        VZ_ASSERT(CFEqual(digest->subType, kSCValNetInterfaceSubTypePPPSerial) ||
                  CFEqual(digest->subType, kSCValNetInterfaceSubTypePPPoE));
        if (err == noErr) CFDictionarySetValue(result, kSCPropNetInterfaceSubType, digest->subType);
    }
    if (digest->variant != NULL) {
        VZ_ASSERT(CFEqual(digest->hardware, kSCEntNetModem));
        if (err == noErr) CFDictionarySetValue(result, kHardwareVariantKey, digest->variant);
    }

    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

// Stores each (key, value) pair as a number, in order, until one fails.
struct NumberSetting {
    CFStringRef key;
    SInt32      value;
};

static OSStatus SetNumbers(CFMutableDictionaryRef dict, const NumberSetting *settings,
                           size_t count) noexcept
{
    OSStatus err   = noErr;
    size_t   index = 0;

    for (index = 0; (err == noErr) && (index < count); index++) {
        err = CFQDictionarySetNumber(dict, settings[index].key, settings[index].value);
    }
    return err;
}

OSStatus MoreSCCreatePPPEntity(const MoreSCPPPDigest  *digest,
                               CFMutableDictionaryRef *entity) noexcept
{
    OSStatus                err      = noErr;
    const MoreSCPPPOptions *options  = NULL; // borrowed: the digest's or a constant record
    CFMutableDictionaryRef  result   = NULL; // owned until handed over
    CFDataRef               password = NULL;

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    // Called even when the digest brings its own options: it also brings the
    // version flags read below up to date.
    options = MoreSCGetDefaultPPPOptions(false);
    if (digest->options != NULL) options = digest->options;

    // The unsigned 32-bit timers and counts are stored with the same 32 bits.
    const NumberSetting idleSettings[] = {
        {kSCPropNetPPPDialOnDemand, options->dialOnDemand},
        {kSCPropNetPPPDisconnectOnIdle, options->disconnectOnIdle},
        {kSCPropNetPPPDisconnectOnIdleTimer, (SInt32)options->disconnectOnIdleTimer},
        {kSCPropNetPPPDisconnectOnLogout, options->disconnectOnLogout},
        {kSCPropNetPPPIdleReminder, options->idleReminder},
        {kSCPropNetPPPIdleReminderTimer, (SInt32)options->idleReminderTimer},
    };
    const NumberSetting commSettings[] = {
        {kSCPropNetPPPCommDisplayTerminalWindow, options->commDisplayTerminalWindow},
        {kSCPropNetPPPCommRedialCount, (SInt32)options->commRedialCount},
        {kSCPropNetPPPCommRedialEnabled, options->commRedialEnabled},
        {kSCPropNetPPPCommRedialInterval, (SInt32)options->commRedialInterval},
    };
    const NumberSetting lcpSettings[] = {
        {kSCPropNetPPPIPCPCompressionVJ, options->ipcpCompressionVJ},
        {kSCPropNetPPPLCPEchoEnabled, options->lcpEchoEnabled},
        {kSCPropNetPPPLCPEchoFailure, gTenTwoOrLater ? 4 : 3},
        {kSCPropNetPPPLCPEchoInterval, 10},
    };

    err = CFQDictionaryCreateMutable(&result);
    if ((err == noErr) && (digest->userDefinedName != NULL)) {
        CFDictionarySetValue(result, kSCPropUserDefinedName, digest->userDefinedName);
    }
    if ((err == noErr) && !digest->active) {
        err = CFQDictionarySetNumber(result, kSCResvInactive, 1);
    }
    if (err == noErr) err = SetNumbers(result, idleSettings, std::size(idleSettings));
    if (err == noErr) {
        CFDictionarySetValue(result, kSCPropNetPPPLogfile,
                             gTenThreeFiveOrLater ? kPPPLogfileFromTenThreeFive
                                                  : kPPPLogfileBeforeTenThreeFive);
        err = CFQDictionarySetNumber(result, kSCPropNetPPPVerboseLogging, options->verboseLogging);
    }
    if ((err == noErr) && (digest->authName != NULL)) {
        CFDictionarySetValue(result, kSCPropNetPPPAuthName, digest->authName);
    }
    if ((err == noErr) && (digest->authPassword != NULL)) {
        err = VaviVAZCopyEncodedPPPPassword(digest->authPassword, &password);
        if (err == noErr) CFDictionarySetValue(result, kSCPropNetPPPAuthPassword, password);
    }
    if ((err == noErr) && (digest->commAlternateRemoteAddress != NULL)) {
        CFDictionarySetValue(result, kSCPropNetPPPCommAlternateRemoteAddress,
                             digest->commAlternateRemoteAddress);
    }
    if (err == noErr) err = SetNumbers(result, commSettings, std::size(commSettings));
    if ((err == noErr) && (digest->commRemoteAddress != NULL)) {
        CFDictionarySetValue(result, kSCPropNetPPPCommRemoteAddress, digest->commRemoteAddress);
    }
    if ((err == noErr) && gTenTwoOrLater) {
        err = CFQDictionarySetNumber(result, kSCPropNetPPPCommUseTerminalScript, 0);
    }
    if (err == noErr) err = SetNumbers(result, lcpSettings, std::size(lcpSettings));
    if ((err == noErr) && gTenThreeOrLater) {
        err = CFQDictionarySetNumber(result, kSCPropNetPPPACSPEnabled, 0);
    }
    if ((err == noErr) && gTenTwoOrLater) {
        err = CFQDictionarySetNumber(result, kSCPropNetPPPDisconnectOnSleep, 1);
    }
    if ((err == noErr) && gTenFourOrLater) {
        err = CFQDictionarySetNumber(result, kDisconnectOnFastUserSwitchKey, 1);
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(password);
    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateModemEntity(const MoreSCModemDigest *digest,
                                 CFMutableDictionaryRef  *entity) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef result = NULL; // owned until handed over

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    // The tables read the digest, so they come after the checks. One flag
    // stands for both data compression and error correction.
    const NumberSetting basicSettings[] = {
        {kSCPropNetModemErrorCorrection, digest->errorCorrectionAndCompression},
        {kSCPropNetModemPulseDial, digest->pulseDial},
        {kSCPropNetModemSpeaker, digest->speaker},
    };
    const NumberSetting holdSettings[] = {
        {kSCPropNetModemHoldCallWaitingAudibleAlert, 1},
        {kSCPropNetModemHoldDisconnectOnAnswer, 0},
        {kSCPropNetModemHoldEnabled, 0},
        {kSCPropNetModemHoldReminder, 1},
        {kSCPropNetModemHoldReminderTime, 10},
    };

    err = CFQDictionaryCreateMutable(&result);
    VZ_ASSERT(digest->connectionScript != NULL);
    if (err == noErr) {
        CFDictionarySetValue(result, kSCPropNetModemConnectionScript, digest->connectionScript);
        err = CFQDictionarySetNumber(result, kSCPropNetModemDataCompression,
                                     digest->errorCorrectionAndCompression);
    }
    if (err == noErr) {
        CFDictionarySetValue(result, kSCPropNetModemDialMode,
                             digest->waitForDialTone ? kSCValNetModemDialModeWaitForDialTone
                                                     : kSCValNetModemDialModeIgnoreDialTone);
        err = SetNumbers(result, basicSettings, std::size(basicSettings));
    }
    if ((err == noErr) && digest->supportsHold) {
        err = SetNumbers(result, holdSettings, std::size(holdSettings));
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateAirPortEntity(const MoreSCAirPortDigest *digest,
                                   CFMutableDictionaryRef    *entity) noexcept
{
    OSStatus               err        = noErr;
    CFMutableDictionaryRef result     = NULL; // owned until handed over
    CFStringRef            macAddress = NULL;

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    // From 10.4 on the AirPort entity no longer names the card's address.
    if ((err == noErr) && !MoreSCIsTenFourOrLater()) {
        err = VaviVAZCreateStringWithMacAddress(digest->macAddress, &macAddress);
        if (err == noErr) CFDictionarySetValue(result, kSCPropMACAddress, macAddress);
    }
    if ((err == noErr) && (digest->preferredNetwork != NULL)) {
        CFDictionarySetValue(result, kSCPropNetAirPortPreferredNetwork, digest->preferredNetwork);
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(macAddress);
    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateEthernetEntity(const MoreSCEthernetDigest *digest,
                                    CFMutableDictionaryRef     *entity) noexcept
{
    OSStatus               err        = noErr;
    CFMutableDictionaryRef result     = NULL; // owned until handed over
    CFStringRef            macAddress = NULL;

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    if (err == noErr) {
        err = VaviVAZCreateStringWithMacAddress(digest->macAddress, &macAddress);
        if (err == noErr) CFDictionarySetValue(result, kSCPropMACAddress, macAddress);
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(macAddress);
    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}
