// The image-filter plug-in: the picture routines and MPImageFilter, the base class of the filters that
// work in bands on several threads.
#include "Dispatcher.h"
#include "PictureRoutines.h"
#include "imagefilter/MPImageFilter.h"
#include "kit/Kit.h"

extern "C" {
REALResolver gResolver = nullptr;
}

namespace imagefilter {
namespace {

void Construct(REALobject self);
void Destruct(REALobject self);
REALobject GetProgressHandler(REALobject self);
void SetProgressHandler(REALobject self, REALobject value);

template <typename F>
REALproc Proc(F* function) {
  return reinterpret_cast<REALproc>(function);
}

REALproperty gProperties[] = {
    {"ProgressHandler as IProgressHandler", Proc(&GetProgressHandler), Proc(&SetProgressHandler), 0, 0},
};

// The host writes where the data lies into forSystemUse, so the record stays writable.
REALclassDefinition gClass = {
    kREALClassDefinitionVersion,
    "MPImageFilter",
    nullptr,
    static_cast<int32_t>(sizeof(MPImageFilterData)),
    0,
    Proc(&Construct),
    Proc(&Destruct),
    gProperties,
    static_cast<int32_t>(sizeof gProperties / sizeof gProperties[0]),
    nullptr,
    0,
    0,
    {},
};

REALmethodDefinition gMethods[] = {
    {Proc(&EnsurePictureBits), nullptr, "EnsurePictureBits(src as Picture,depth as Integer) as Picture", 0, 0},
    {Proc(&GrayScale), nullptr,
     "GrayScale(src as Picture,grayscaleTypeValue as Integer,mask as Picture,progress as IProgressHandler) as Picture",
     0, 0},
};

MPImageFilterData* DataOf(REALobject self) {
  return static_cast<MPImageFilterData*>(kit::REALGetClassData(self, &gClass));
}

void Construct(REALobject self) {
  MPImageFilterData* data = DataOf(self);
  data->progressHandler = nullptr;
  data->dispatcher = &Dispatch;
  data->multiprocessingHint = 0;
  data->errorCode = 0;
  data->reserved = 0;
}

void Destruct(REALobject self) {
  MPImageFilterData* data = DataOf(self);
  if (REALobject handler = data->progressHandler) {
    data->progressHandler = nullptr;
    kit::REALUnlockObject(handler);
  }
}

REALobject GetProgressHandler(REALobject self) {
  REALobject handler = DataOf(self)->progressHandler;
  if (handler) kit::REALLockObject(handler);
  return handler;
}

void SetProgressHandler(REALobject self, REALobject value) {
  MPImageFilterData* data = DataOf(self);
  // The new one first: setting the handler it already holds must not drop its last reference.
  if (value) kit::REALLockObject(value);
  REALobject old = data->progressHandler;
  data->progressHandler = value;
  if (old) kit::REALUnlockObject(old);
}

}  // namespace
}  // namespace imagefilter

void REALPluginMain(REALResolver resolver) {
  gResolver = resolver;
  kit::REALRegisterPluginVersion(6);
  for (REALmethodDefinition& method : imagefilter::gMethods) kit::REALRegisterMethod(&method);
  kit::REALRegisterClass(&imagefilter::gClass);
}
