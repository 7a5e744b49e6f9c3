// Images of statically linked drivers and applications: an image handle
// with EFI_LOADED_IMAGE_PROTOCOL, entry point calls and unloading, with the
// lifecycle rules of UEFI's image services.
#include "Core.h"

#include <HostEnv/Text.h>

#include <algorithm>
#include <cstring>

namespace HostEnv {
namespace {

char16_t FoldCase(char16_t Unit) { return (Unit >= u'a' && Unit <= u'z') ? Unit - u'a' + u'A' : Unit; }

std::u16string_view LastComponent(std::u16string_view Path) {
  size_t Slash = Path.find_last_of(u"\\/");
  return Slash == std::u16string_view::npos ? Path : Path.substr(Slash + 1);
}

bool SameFileName(std::u16string_view A, std::u16string_view B) {
  A = LastComponent(A);
  B = LastComponent(B);
  return A.size() == B.size() &&
         std::equal(A.begin(), A.end(), B.begin(), [](char16_t X, char16_t Y) { return FoldCase(X) == FoldCase(Y); });
}

size_t NodeLength(const UINT8 *Node) { return Node[2] | (size_t(Node[3]) << 8); }

// The path text of the last file-path node of a device path, and the byte
// size of the whole path (end node included). Malformed paths give size 0.
std::u16string FileNameIn(const EFI_DEVICE_PATH_PROTOCOL *DevicePath, size_t &PathSize) {
  const auto    *Bytes = reinterpret_cast<const UINT8 *>(DevicePath);
  std::u16string Name;
  PathSize = 0;
  for (size_t Offset = 0, Nodes = 0; Nodes < 1024; ++Nodes) {
    const UINT8 *Node   = Bytes + Offset;
    size_t       Length = NodeLength(Node);
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return {};
    }
    if (Node[0] == END_DEVICE_PATH_TYPE && Node[1] == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      PathSize = Offset + Length;
      return Name;
    }
    if (Node[0] == kMediaDevicePath && Node[1] == kMediaFilePathNode) {
      Name.assign((Length - 4) / 2, u'\0');
      std::memcpy(Name.data(), Node + 4, Name.size() * 2);
      Name.erase(std::find(Name.begin(), Name.end(), u'\0'), Name.end());
    }
    Offset += Length;
  }
  return {};
}

}  // namespace

std::vector<UINT8> FilePathDevicePath(std::u16string_view FileName) {
  size_t             NodeSize = 4 + (FileName.size() + 1) * 2;
  std::vector<UINT8> Path(NodeSize + 4, 0);
  Path[0] = kMediaDevicePath;
  Path[1] = kMediaFilePathNode;
  Path[2] = UINT8(NodeSize & 0xFF);
  Path[3] = UINT8(NodeSize >> 8);
  std::memcpy(&Path[4], FileName.data(), FileName.size() * 2);
  Path[NodeSize + 0] = END_DEVICE_PATH_TYPE;
  Path[NodeSize + 1] = END_ENTIRE_DEVICE_PATH_SUBTYPE;
  Path[NodeSize + 2] = 4;
  return Path;
}

ImageRecord *Core::FindImage(EFI_HANDLE Handle) {
  for (const auto &Image : Images) {
    if (Image->Loaded && Image->Handle == Handle && Handle != nullptr) {
      return Image.get();
    }
  }
  return nullptr;
}

EFI_HANDLE Core::CreateImage(EFI_IMAGE_ENTRY_POINT Entry, ImageKind Kind, std::vector<UINT8> FilePath,
                             EFI_HANDLE Parent, UINT64 ImageSize) {
  auto Image      = std::make_unique<ImageRecord>();
  Image->Entry    = Entry;
  Image->Kind     = Kind;
  Image->FilePath = std::move(FilePath);
  Image->Body.assign(ImageSize, 0);
  bool Driver                   = Kind == ImageKind::Driver;
  EFI_LOADED_IMAGE_PROTOCOL &LI = Image->LoadedImage;
  LI.Revision                   = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  LI.ParentHandle               = Parent;
  LI.SystemTable                = &SystemTable;
  LI.DeviceHandle               = nullptr;
  LI.FilePath      = Image->FilePath.empty() ? nullptr : reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Image->FilePath.data());
  LI.ImageBase     = Image->Body.data();
  LI.ImageSize     = Image->Body.size();
  LI.ImageCodeType = Driver ? EfiBootServicesCode : EfiLoaderCode;
  LI.ImageDataType = Driver ? EfiBootServicesData : EfiLoaderData;
  LI.Unload        = nullptr;
  EFI_STATUS Status = Database.Install(&Image->Handle, &gEfiLoadedImageProtocolGuid, &Image->LoadedImage);
  if (EFI_ERROR(Status)) {
    Faults.Report("LoadImage: installing EFI_LOADED_IMAGE_PROTOCOL failed: " + StatusToString(Status));
    return nullptr;
  }
  Images.push_back(std::move(Image));
  return Images.back()->Handle;
}

// What firmware does when an image goes away: every protocol the image still
// has open is closed and its loaded-image protocol removed. Protocols the
// image installed and did not uninstall stay, so a test can see them.
static void FinishImage(Core &Self, ImageRecord &Image) {
  Self.Database.CloseAllOpenedBy(Image.Handle);
  EFI_STATUS Status = Self.Database.Uninstall(Image.Handle, &gEfiLoadedImageProtocolGuid, &Image.LoadedImage);
  if (EFI_ERROR(Status)) {
    Self.Faults.Report("UnloadImage: removing EFI_LOADED_IMAGE_PROTOCOL failed: " + StatusToString(Status));
  }
  Image.Loaded = false;
}

EFI_STATUS Core::StartImage(EFI_HANDLE Handle) {
  ImageRecord *Image = FindImage(Handle);
  if (Image == nullptr || Image->Started || Image->Entry == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Image->Started    = true;
  EFI_STATUS Status = Image->Entry(Handle, &SystemTable);
  // Re-find: the entry point may have loaded further images.
  Image = FindImage(Handle);
  if (Image != nullptr && (EFI_ERROR(Status) || Image->Kind == ImageKind::Application)) {
    FinishImage(*this, *Image);
  }
  return Status;
}

EFI_STATUS Core::UnloadImage(EFI_HANDLE Handle) {
  ImageRecord *Image = FindImage(Handle);
  if (Image == nullptr || Handle == CoreImage) {
    return EFI_INVALID_PARAMETER;
  }
  if (Image->Started) {
    if (Image->LoadedImage.Unload == nullptr) {
      return EFI_UNSUPPORTED;
    }
    EFI_STATUS Status = Image->LoadedImage.Unload(Handle);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Image = FindImage(Handle);
    if (Image == nullptr) {
      return EFI_SUCCESS;
    }
  }
  FinishImage(*this, *Image);
  return EFI_SUCCESS;
}

EFI_STATUS Core::LoadRegisteredImage(EFI_HANDLE Parent, const EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                     EFI_HANDLE *ImageHandle) {
  size_t         PathSize = 0;
  std::u16string Name     = FileNameIn(DevicePath, PathSize);
  if (PathSize == 0) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = std::find_if(Registered.begin(), Registered.end(),
                            [&](const RegisteredImage &Known) { return SameFileName(Known.FileName, Name); });
  if (Name.empty() || Found == Registered.end()) {
    return EFI_NOT_FOUND;
  }
  const auto        *Bytes = reinterpret_cast<const UINT8 *>(DevicePath);
  EFI_HANDLE         Image = CreateImage(Found->Entry, Found->Kind, std::vector<UINT8>(Bytes, Bytes + PathSize), Parent,
                                         ImageOptions{}.ImageSize);
  if (Image == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  *ImageHandle = Image;
  return EFI_SUCCESS;
}

}  // namespace HostEnv
