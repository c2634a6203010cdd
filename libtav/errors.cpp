// The library's version and the text of its error codes.
#include "call.h"
#include "tav.h"

#define TAV_STRING(x) #x
#define TAV_VERSION_TEXT(a, b, c) TAV_STRING(a) "." TAV_STRING(b) "." TAV_STRING(c)

extern "C" {

const char* tav_version(void) {
  return TAV_VERSION_TEXT(TAV_VERSION_MAJOR, TAV_VERSION_MINOR, TAV_VERSION_PATCH);
}

unsigned tav_version_number(void) { return TAV_VERSION_NUMBER; }

const char* tav_error_message(tav_error code) {
  switch (tav::lib::raw_value(code)) {
    case TAV_OK: return "no error";
    case TAV_ERROR_PARAMETER: return "an argument or parameter is out of range";
    case TAV_ERROR_MEMORY: return "not enough memory";
    case TAV_ERROR_DAMAGED: return "the compressed data is damaged";
    case TAV_ERROR_UNSUPPORTED: return "the compressed data uses a format this library cannot decode";
    case TAV_ERROR_CANNOT_CODE: return "no model order can code the text within the node budget";
    case TAV_ERROR_DST_TOO_SMALL: return "the output buffer is too small";
    case TAV_ERROR_STAGE: return "a call out of order for the stream";
    case TAV_ERROR_TOO_LARGE: return "a size too large for this library or machine";
    case TAV_ERROR_INTERRUPTED: return "interrupted";
  }
  return "unknown error code";
}

}  // extern "C"
