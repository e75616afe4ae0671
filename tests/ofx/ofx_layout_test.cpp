// The OpenFX records as the standard lays them out on 64-bit platforms: sizes, member offsets,
// each suite's function order, and the numeric constants. A declaration that drifts from the
// standard's binary layout stops this file from compiling.
#include <gtest/gtest.h>

#include <cstddef>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxParam.h"
#include "ofxProperty.h"

namespace {

#define AT(T, m, offset) static_assert(offsetof(T, m) == (offset), #T "." #m)
#define SIZE(T, size) static_assert(sizeof(T) == (size), #T)

SIZE(OfxHost, 16);
AT(OfxHost, host, 0);
AT(OfxHost, fetchSuite, 8);
SIZE(OfxPlugin, 48);
AT(OfxPlugin, pluginApi, 0);
AT(OfxPlugin, apiVersion, 8);
AT(OfxPlugin, pluginIdentifier, 16);
AT(OfxPlugin, pluginVersionMajor, 24);
AT(OfxPlugin, pluginVersionMinor, 28);
AT(OfxPlugin, setHost, 32);
AT(OfxPlugin, mainEntry, 40);
SIZE(OfxRectI, 16);
AT(OfxRectI, y2, 12);
SIZE(OfxRectD, 32);
AT(OfxRectD, y2, 24);
SIZE(OfxPointI, 8);
SIZE(OfxPointD, 16);
SIZE(OfxRangeI, 8);
SIZE(OfxRangeD, 16);
SIZE(OfxTime, 8);
SIZE(OfxStatus, 4);

// Suites: function pointers in the standard's order, 8 bytes each.
SIZE(OfxPropertySuiteV1, 18 * 8);
AT(OfxPropertySuiteV1, propSetPointer, 0);
AT(OfxPropertySuiteV1, propSetInt, 3 * 8);
AT(OfxPropertySuiteV1, propSetIntN, 7 * 8);
AT(OfxPropertySuiteV1, propGetPointer, 8 * 8);
AT(OfxPropertySuiteV1, propGetInt, 11 * 8);
AT(OfxPropertySuiteV1, propGetIntN, 15 * 8);
AT(OfxPropertySuiteV1, propReset, 16 * 8);
AT(OfxPropertySuiteV1, propGetDimension, 17 * 8);
SIZE(OfxParameterSuiteV1, 18 * 8);
AT(OfxParameterSuiteV1, paramDefine, 0);
AT(OfxParameterSuiteV1, paramGetPropertySet, 3 * 8);
AT(OfxParameterSuiteV1, paramGetValue, 4 * 8);
AT(OfxParameterSuiteV1, paramGetValueAtTime, 5 * 8);
AT(OfxParameterSuiteV1, paramSetValue, 8 * 8);
AT(OfxParameterSuiteV1, paramGetNumKeys, 10 * 8);
AT(OfxParameterSuiteV1, paramCopy, 15 * 8);
AT(OfxParameterSuiteV1, paramEditEnd, 17 * 8);
SIZE(OfxImageEffectSuiteV1, 13 * 8);
AT(OfxImageEffectSuiteV1, getParamSet, 1 * 8);
AT(OfxImageEffectSuiteV1, clipGetImage, 5 * 8);
AT(OfxImageEffectSuiteV1, clipGetRegionOfDefinition, 7 * 8);
AT(OfxImageEffectSuiteV1, abort, 8 * 8);
AT(OfxImageEffectSuiteV1, imageMemoryUnlock, 12 * 8);
SIZE(OfxMemorySuiteV1, 2 * 8);
AT(OfxMemorySuiteV1, memoryFree, 8);
SIZE(OfxMultiThreadSuiteV1, 9 * 8);
AT(OfxMultiThreadSuiteV1, multiThreadIsSpawnedThread, 3 * 8);
AT(OfxMultiThreadSuiteV1, mutexTryLock, 8 * 8);
SIZE(OfxMessageSuiteV1, 8);

// Status codes and numbers.
static_assert(kOfxStatOK == 0 && kOfxStatFailed == 1 && kOfxStatErrFatal == 2 &&
              kOfxStatErrUnknown == 3 && kOfxStatErrMissingHostFeature == 4 &&
              kOfxStatErrUnsupported == 5 && kOfxStatErrExists == 6 && kOfxStatErrFormat == 7 &&
              kOfxStatErrMemory == 8 && kOfxStatErrBadHandle == 9 && kOfxStatErrBadIndex == 10 &&
              kOfxStatErrValue == 11 && kOfxStatReplyYes == 12 && kOfxStatReplyNo == 13 &&
              kOfxStatReplyDefault == 14 && kOfxStatErrImageFormat == 1000);
static_assert(kOfxImageEffectPluginApiVersion == 1);

}  // namespace

// The pins above are compile-time; this names the program's test for CTest.
TEST(OfxLayout, RecordsMatchTheStandard) { SUCCEED(); }
