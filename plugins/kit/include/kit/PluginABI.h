/* The plug-in boundary: the records a plug-in registers with and the framework routines it may ask for.
 *
 * A plug-in exports one entry, REALPluginMain, which the framework calls once with a resolver. The plug-in
 * asks the resolver for framework routines by name (0 means unknown) and registers classes and methods
 * with the records below. Words that hold an address or a routine are pointer-sized; every other word is
 * 32 bits. Fields a plug-in does not use stay 0. */
#ifndef SPECKMOOR_PLUGIN_ABI_H
#define SPECKMOOR_PLUGIN_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SPECKMOOR_PLUGIN_EXPORT __attribute__((visibility("default")))

typedef struct REALobjectStruct* REALobject;
typedef struct REALpictureStruct* REALpicture;
typedef struct REALfolderItemStruct* REALfolderItem;
typedef struct REALgraphicsStruct* REALgraphics;
typedef struct REALapplicationStruct* REALapplication;

typedef void* (*REALResolver)(const char* routineName);
typedef void (*REALproc)(void);

/* Version of REALclassDefinition this framework reads; any other is refused. */
enum { kREALClassDefinitionVersion = 6 };

/* REALclassDefinition.flags: the record adds methods to an existing framework type
 * (keys "<type>.<declaration>") instead of declaring a class. */
enum { kREALClassExtendsType = 1 };

/* REALproperty.flags: a stored property, a value at `param` bytes into the class's own data,
 * read and written by the framework without a plug-in call. By its declared type it takes one byte
 * (Boolean), 4 bytes (Integer, Single), 8 bytes (Double) or a pointer (any object type, holding one
 * reference that the framework releases when the object goes). */
enum { kREALPropertyStored = 1 };

/* Six-word description of a picture's pixels. */
typedef struct REALpictureDescription {
  int32_t pictureType; /* word 0: carried only */
  void* gworld;        /* word 1: the picture's GWorld (platform/PixMap.h) */
  int32_t width;       /* word 2 */
  int32_t height;      /* word 3 */
  int32_t depth;       /* word 4: bits per pixel */
  int32_t transparent; /* word 5: carried only */
} REALpictureDescription;

typedef struct REALmethodDefinition {
  REALproc function;
  REALproc setterFunction; /* 0 */
  const char* declaration;
  int32_t flags;   /* 0 */
  int32_t reserved; /* 0 */
} REALmethodDefinition;

typedef struct REALproperty {
  const char* declaration; /* "Name as Type" */
  REALproc getter;         /* key "<Class>.<Name>.Get" */
  REALproc setter;         /* key "<Class>.<Name>.Set" */
  int32_t flags;
  int32_t param;           /* stored properties: offset within the class's own data */
} REALproperty;

typedef struct REALclassDefinition {
  int32_t version;           /* word 0: kREALClassDefinitionVersion */
  const char* name;          /* word 1 */
  const char* superName;     /* word 2: 0 for none */
  int32_t dataSize;          /* word 3: bytes of the class's own instance data */
  int32_t forSystemUse;      /* word 4: 0 in the plug-in; the framework writes the data's offset */
  REALproc constructor;      /* word 5: key "<Class>.__init", called with the object */
  REALproc destructor;       /* word 6: key "<Class>.__exit", called with the object */
  REALproperty* properties;  /* word 7 */
  int32_t propertyCount;     /* word 8 */
  REALmethodDefinition* methods; /* word 9 */
  int32_t methodCount;       /* word 10 */
  int32_t flags;             /* word 11 */
  void* reserved[12];        /* words 12-23 */
} REALclassDefinition;

/* The routines the framework answers, by the name a plug-in asks for. */
typedef void (*RegisterPluginVersionProc)(int32_t version);        /* "RegisterPluginVersion" */
typedef double (*REALGetRBVersionProc)(void);                      /* "REALGetRBVersion" */
typedef void (*PluginRegisterClassProc)(REALclassDefinition*);     /* "PluginRegisterClass" */
typedef void (*PluginRegisterMethodProc)(REALmethodDefinition*);   /* "PluginRegisterMethod" */
typedef REALpicture (*NewPictureProc)(int32_t width, int32_t height, int32_t depth); /* "newPicture" */
typedef int32_t (*LockPictureDescriptionProc)(REALpicture, REALpictureDescription*); /* "lockPictureDescription" */
typedef void (*UnlockPictureDescriptionProc)(REALpicture);         /* "unlockPictureDescription" */
typedef void (*REALLockObjectProc)(REALobject);                    /* "REALLockObject" */
typedef void (*REALUnlockObjectProc)(REALobject);                  /* "REALUnlockObject" */
/* Files for the outside plug-ins: a folder item from a UTF-8 path (one reference, or 0), and a folder
 * item's path: the byte count without the terminating zero, written with it when `size` allows. */
typedef REALfolderItem (*REALFolderItemFromPathProc)(const char* path);   /* "REALFolderItemFromPath" */
typedef int32_t (*REALFolderItemPathProc)(REALfolderItem, char* buffer, int32_t size); /* "REALFolderItemPath" */
/* The Qt painter behind a framework drawing context, valid for the call that handed the context over. */
typedef void* (*REALGraphicsPainterProc)(REALgraphics);                 /* "REALGraphicsPainter" */
/* The bytes of an object's data behind its 24-byte header, as its class records them: 0 for nil and for
 * objects whose class holds no data a plug-in may read. */
typedef int32_t (*REALObjectDataSizeProc)(REALobject);                  /* "REALObjectDataSize" */

/* Objects handed to a plug-in are borrowed for the call; an object a routine returns carries one
 * reference, which the caller takes over. */

/* The one entry every plug-in exports. */
SPECKMOOR_PLUGIN_EXPORT void REALPluginMain(REALResolver resolver);

#ifdef __cplusplus
}
#endif

#endif
