#include <algorithm>
#include <cstring>
#include <exception>

#include "app/Utils.h"
#include "detect/PictureCodec.h"
#include "link/Link.h"
#include "video/Camera.h"

namespace zv {

StationSide::StationSide(LinkSubsystem& link) : l_(link) {}

int StationSide::FindObject(int id) const {
  return FindObjectById(l_.ctx.settings, id);
}

namespace {
// A picture message as a site sends it: the status block at least, and the
// fixed argument bytes.  Anything else is dropped whole and is no sign of
// life of any Object.
bool WellFormed(const LinkMessage& m) {
  return m.Type == link::mtPicture && m.Arg3 == 0xFF && m.Arg4 == 0x00 && m.PayloadSize >= 4 &&
         m.Payload != nullptr;
}
}  // namespace

void StationSide::PlacePicture(TCamera* cam, const LinkMessage& m) {
  LinkContext& c = l_.ctx;
  if (!cam || cam->CurrentPicture.Empty()) return;
  try {
    TPicture& pic = cam->CurrentPicture;
    const std::size_t n = std::min(m.PayloadSize, pic.SizeBytes());
    try {
      std::memcpy(pic.Data(), m.Payload, n);
    } catch (const std::exception& e) {
      c.journal.AddFailure(e.what(), jcPictureCopy);
    }
    l_.ReceivedBytes(cam->Number) += static_cast<long long>(m.PayloadSize);
    ++cam->PicturesPlaced;
    c.intake.FramePending = true;
    c.intake.ReadyForFrame = false;
    try {
      cam->Repaint();
    } catch (const std::exception& e) {
      c.journal.AddFailure(e.what(), jcPictureRepaint);
    }
  } catch (const std::exception& e) {
    c.journal.AddFailure(e.what(), jcPictureHandling);
  }
}

void StationSide::HandleLinkMessage(const LinkMessage& m, LinkPeer& peer) {
  LinkContext& c = l_.ctx;
  if (!WellFormed(m)) return;
  int obj = 0;  // record number of the Object the message acts on
  TCamera* cam = nullptr;
  if (m.Arg1 != 0) {
    // The site's Object ID: its picture goes into that Object's camera.  An
    // ID the directory does not know acts on no Object at all.
    obj = FindObject(m.Arg1);
    if (obj == 0) {
      l_.status.ReportUnknown(peer, m.Arg1);
      return;
    }
    const TObjectRecord& o = c.settings.Objects[static_cast<std::size_t>(obj)];
    if (m.Arg2 >= 1 && m.Arg2 <= o.Cams && m.Arg2 <= kMaxCamsPerObject)
      cam = dynamic_cast<TCamera*>(o.Cameras[m.Arg2]);
  } else {
    // No ID: the camera number is the station's own, and the Object is the
    // one whose ID that camera carries.
    if (m.Arg2 >= 1 && m.Arg2 <= CameraTable::kMaxCameras) cam = c.cameras.GetAs<TCamera>(m.Arg2);
    if (!cam) return;  // no such camera: dropped
    obj = FindObject(cam->ObjID);
  }
  const int id = obj > 0 ? c.settings.Objects[static_cast<std::size_t>(obj)].ID : 0;
  if (!l_.status.Admit(peer, id)) return;
  PlacePicture(cam, m);
  if (obj <= 0) return;  // the picture is shown, its status is not followed
  l_.status.SignOfLife(obj);
  l_.status.HandleStatus(obj, m.Payload);
}

void StationSide::ObjectListBoxClickCheck(int index) {
  LinkContext& c = l_.ctx;
  const int n = index >= 0 ? index : c.form.ObjectListBox.ItemIndex();
  if (n < 0 || n + 1 > kMaxObjects) return;
  const bool ticked = c.form.ObjectListBox.Checked(n);
  l_.status.Supervised(n + 1, ticked);
  l_.SendCommand(ticked, n);
}

void StationSide::ModemPicture(const std::uint8_t* jpeg, std::size_t size, LinkPeer& peer) {
  LinkContext& c = l_.ctx;
  // A site that sends its status with the picture is found by its ID, and
  // the picture goes into that Object's camera; without it every modem
  // picture is the station's camera 1.
  PictureStatus status;
  const bool withStatus = ReadStatusSegment(jpeg, size, status) && status.ObjectId != 0;
  int obj = 0;
  TCamera* cam = nullptr;
  if (withStatus) {
    obj = FindObject(status.ObjectId);
    if (obj == 0) {
      l_.status.ReportUnknown(peer, status.ObjectId);
      return;
    }
    if (!l_.status.Admit(peer, status.ObjectId)) return;
    const TObjectRecord& o = c.settings.Objects[static_cast<std::size_t>(obj)];
    if (status.Camera >= 1 && status.Camera <= o.Cams && status.Camera <= kMaxCamsPerObject)
      cam = dynamic_cast<TCamera*>(o.Cameras[status.Camera]);
  } else {
    cam = c.cameras.GetAs<TCamera>(1);
  }
  if (cam) {
    try {
      JpegCodec codec;
      if (!codec.DecodePicture(cam->CurrentPicture, jpeg, size, true))
        throw std::runtime_error(codec.LastError().empty() ? "картинка не декодирована"
                                                           : codec.LastError());
      l_.ReceivedBytes(cam->Number) += static_cast<long long>(size);
      ++cam->PicturesPlaced;
      cam->Repaint();
    } catch (const std::exception& e) {
      c.journal.ReportError(e.what(), jcModemPicture, 1);
    }
  }
  if (obj <= 0) return;
  l_.status.SignOfLife(obj);
  l_.status.HandleStatus(obj, status.Block);
}

}  // namespace zv
