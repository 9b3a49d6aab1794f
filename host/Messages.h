// Messages: the process-wide message table. Every text the libraries show to a user
// is a resource identifier looked up here at run time, so that a translation can
// replace the texts without rebuilding anything.
//
// Life cycle of an entry:
//   (absent) --RegisterResString(Id, Name, Text)--> registered (default text)
//   registered --ReplaceResString / LoadResStrings--> translated
//   translated --RestoreResString--> registered (default text again)
// Registering an identifier that already exists keeps its current text (a
// translation loaded first wins) unless the name differs, which raises: two layers
// claiming one number is a programming fault that must not pass silently.
//
// Identifier ranges, one per layer: host 100..999, base 1000..1999, dataset
// 2000..2999, SQL Anywhere binding 3000..3999, components 4000..4999, driver
// 5000..5999, design 6000..6999.
//
// The table is shared by all threads and guarded by a mutex.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/SysUtils.h"

class TStream;

using TResourceId = int32_t;

struct TResStringRec {
  TResourceId Id;
  const char* Name;  // the identifier as written in the code ("ZYL_ERR_SESS_NIL")
  const char* Text;  // the default (English) text
};

// Adds the default text of an identifier. Returns true so that a unit can register
// its texts in a static initialiser ("static const bool Registered = ...").
bool RegisterResString(TResourceId Id, const AnsiString& Name, const AnsiString& Text);
bool RegisterResStrings(std::initializer_list<TResStringRec> Records);
// Sets the text shown for Id; false when Id was never registered.
bool ReplaceResString(TResourceId Id, const AnsiString& Text);
bool ReplaceResStringByName(const AnsiString& Name, const AnsiString& Text);
// Brings back the registered default text.
bool RestoreResString(TResourceId Id);
void RestoreAllResStrings();
// The current text; an unknown identifier yields "<resource N>" rather than an
// empty text, so a missing registration is visible in the message itself.
AnsiString LoadResString(TResourceId Id);
bool ResStringExists(TResourceId Id);
TResourceId FindResStringId(const AnsiString& Name);  // -1 when unknown
// Reads a translation: one entry a line, "NAME=text" or "number=text"; blank lines
// and lines starting with ';' or '#' are ignored, blanks around the key and
// before the text are dropped, "\n" and "\\" in the text stand
// for a line break and a backslash. Returns the number of entries applied; lines
// naming unknown identifiers are counted in Unknown and otherwise ignored.
int LoadResStrings(const AnsiString& Translation, int* Unknown = nullptr);
int LoadResStringsFromStream(TStream& Stream, int* Unknown = nullptr);
int LoadResStringsFromFile(const AnsiString& FileName, int* Unknown = nullptr);
// Every registered entry in identifier order (for writing a translation template).
std::vector<TResStringRec> ResStringIds();

// The host's own messages.
enum : TResourceId {
  SReadError = 100,            // "Stream read error"
  SWriteError,                 // "Stream write error"
  SFCreateError,               // "Cannot create file \"%s\". %s"
  SFOpenError,                 // "Cannot open file \"%s\". %s"
  SListIndexError,             // "List index out of bounds (%d)"
  SDuplicateString,            // "String list does not allow duplicates"
  SSortedListError,            // "Operation not allowed on sorted list"
  SInvalidInteger,             // "'%s' is not a valid integer value"
  SInvalidFloat,               // "'%s' is not a valid floating point value"
  SInvalidBoolean,             // "'%s' is not a valid boolean value"
  SInvalidDate,                // "'%s' is not a valid date"
  SInvalidTime,                // "'%s' is not a valid time"
  SInvalidDateTime,            // "'%s' is not a valid date and time"
  SDateEncodeError,            // "Invalid argument to date encode"
  STimeEncodeError,            // "Invalid argument to time encode"
  SInvalidTimeStamp,           // "'%d.%d' is not a valid timestamp"
  SInvalidFormat,              // "Format '%s' invalid or incompatible with argument"
  SArgumentMissing,            // "No argument for format '%s'"
  SInvalidCurrency,            // "'%s' is not a valid currency value"
  SCurrencyOverflow,           // "Currency value out of range"
  SVarTypeCastError,           // "Could not convert variant of type (%s) into type (%s)"
  SVarOverflow,                // "Overflow while converting variant of type (%s) into type (%s)"
  SVarArrayCreate,             // "Error creating variant array"
  SVarArrayBounds,             // "Variant array index out of bounds"
  SVarNotArray,                // "Variant is not an array"
  SAssignError,                // "Cannot assign a %s to a %s"
  SDuplicateName,              // "A component named %s already exists"
  SInvalidName,                // "''%s'' is not a valid component name"
  SClassNotFound,              // "Class %s not found"
  SDuplicateClass,             // "A class named %s already exists"
  SUnknownProperty,            // "Property %s does not exist"
  SInvalidPropertyValue,       // "Invalid property value"
  SReadingError,               // "Error reading %s%s%s: %s"
  SParseError,                 // "%s on line %d"
  SUnresolvedReference,        // "Unresolved reference to %s"
  SInvalidBitmap,              // "Bitmap image is not valid"
  SInvalidMetafile,            // "Metafile is not valid"
  SInvalidIcon,                // "Icon image is not valid"
  SUnknownExtension,           // "Unknown picture file extension (.%s)"
  SNoGraphic,                  // "Picture holds no graphic"
  SModuleNotFound,             // "The specified module could not be found"
  SProcNotFound,               // "The specified procedure could not be found"
  SUnknownError,               // "Unknown error %d"
};
#pragma GCC visibility pop
