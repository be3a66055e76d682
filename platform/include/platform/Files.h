// File-system references: the toolbox's FSRef, FSSpec and catalog calls over plain paths.
//
// An FSRef names an existing file or folder through a process-wide table of absolute paths; every
// copy of this layer (the program's and each plug-in's) shares the one table, so a reference made on
// one side of the plug-in boundary resolves on the other. A path keeps its id for the life of the
// process and ids are never reused. Node ids are table ids: 2 is the root "/", and 1 stands for the
// root's parent, which exists only as the parID of the root's FSSpec (parID 1, name "/").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {

typedef std::int16_t OSErr;
typedef std::int32_t OSStatus;
typedef unsigned char Boolean;

enum : OSErr {
  noErr = 0,
  bdNamErr = -37,        // a name that is malformed or too long for the record it goes into
  fnfErr = -43,          // no such file or folder
  paramErr = -50,
  memFullErr = -108,
  errFSBadFSRef = -1401,  // zero, forged or unknown reference
  errFSNameTooLong = -1422,
};

// Node ids of the root and of its parent.
enum : std::uint32_t { kFSRootParentID = 1, kFSRootFolderID = 2 };

// The one volume: the whole tree. FSSpec.vRefNum carries it and is otherwise ignored.
enum : std::int16_t { kPlatformVolumeRefNum = -1 };

struct FSRef {
  std::uint8_t hidden[80];
};
static_assert(sizeof(FSRef) == 80, "an FSRef is 80 bytes");

typedef unsigned char Str63[64];  // Pascal string: length byte, then up to 63 bytes

#pragma pack(push, 2)
struct FSSpec {
  std::int16_t vRefNum;
  std::int32_t parID;
  Str63 name;  // the leaf's bytes as the file system holds them
};
#pragma pack(pop)
static_assert(sizeof(FSSpec) == 70, "an FSSpec is 70 bytes");

struct HFSUniStr255 {
  std::uint16_t length;  // UTF-16 units
  std::uint16_t unicode[255];
};

struct FSCatalogInfo {
  std::uint32_t nodeID;
  std::uint32_t parentDirID;
  std::uint16_t nodeFlags;  // kFSNodeIsDirectoryMask for a folder
};

enum : std::uint32_t { kFSCatInfoNone = 0, kFSCatInfoParentDirID = 0x08, kFSCatInfoNodeID = 0x10, kFSCatInfoNodeFlags = 0x02 };
enum : std::uint16_t { kFSNodeIsDirectoryMask = 0x0010 };

// Fills what the caller asks for; any output may be null. Fails for an invalid reference, a path that
// no longer exists, a leaf longer than 255 UTF-16 units or not valid UTF-8 (outName) and a leaf longer
// than 63 bytes (fsSpec). Nothing is written when it fails. The root's name is "/" and it has no
// parent: parentRef comes back all zero.
OSErr FSGetCatalogInfo(const FSRef* ref, std::uint32_t whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef);

}  // extern "C"

// The framework's side of the table. An FSRef only for a path that exists (made absolute, "." and ".."
// taken out lexically; symbolic links are kept as they are).
OSErr PlatformFSRefFromPath(const char* path, FSRef* ref);
// The path a reference was made for, whether or not it still exists.
OSErr PlatformPathFromFSRef(const FSRef* ref, std::string* path);
// The path of the folder parID with the leaf name; parID 1 with the name "/" is the root.
OSErr PlatformPathFromFSSpec(const FSSpec* fss, std::string* path);

// Strict conversions between a leaf name's UTF-16 and UTF-8: unpaired surrogates and malformed UTF-8
// are refused (bdNamErr), as is a name of more than 255 units (errFSNameTooLong).
OSErr PlatformNameFromHFSUniStr(const HFSUniStr255* name, std::string* utf8);
OSErr PlatformHFSUniStrFromName(const std::string& utf8, HFSUniStr255* name);
