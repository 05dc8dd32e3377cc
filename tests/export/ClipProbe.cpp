#include "ClipProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace zv::test {

namespace {

std::int64_t Ms(std::int64_t ts, AVRational tb) {
  return ts == AV_NOPTS_VALUE ? -1 : av_rescale_q(ts, tb, AVRational{1, 1000});
}

bool TakePictures(AVCodecContext* dec, AVFrame* frame, ProbedClip& out) {
  while (avcodec_receive_frame(dec, frame) == 0) {
    TPicture p(frame->width, frame->height);
    SwsContext* sws = sws_getContext(
        frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
        frame->height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) return false;
    // Written bottom row first, as the program keeps pictures.
    std::uint8_t* dst[4] = {p.Data() + static_cast<std::size_t>(p.Height() - 1) * p.Stride()};
    int stride[4] = {-p.Stride()};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
    sws_freeContext(sws);
    out.pictures.push_back(std::move(p));
    av_frame_unref(frame);
  }
  return true;
}

}  // namespace

bool ProbeClip(const std::string& path, ProbedClip& out, std::string& error, bool decode) {
  out = ProbedClip{};
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) {
    error = "does not open";
    return false;
  }
  bool ok = avformat_find_stream_info(fmt, nullptr) >= 0;
  out.container = fmt->iformat->name;
  if (const AVDictionaryEntry* t = av_dict_get(fmt->metadata, "title", nullptr, 0))
    out.title = t->value;
  int video = -1, text = -1;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const AVCodecParameters* par = fmt->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && video < 0) {
      video = static_cast<int>(i);
      out.videoCodec = avcodec_get_name(par->codec_id);
      out.width = par->width;
      out.height = par->height;
    } else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE && text < 0) {
      text = static_cast<int>(i);
    }
  }
  if (video < 0) {
    error = "no picture stream";
    avformat_close_input(&fmt);
    return false;
  }
  AVCodecContext* dec = nullptr;
  if (decode) {
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[video]->codecpar->codec_id);
    dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[video]->codecpar);
    ok = ok && avcodec_open2(dec, codec, nullptr) >= 0;
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  while (ok && av_read_frame(fmt, pkt) >= 0) {
    const AVStream* st = fmt->streams[pkt->stream_index];
    if (pkt->stream_index == video) {
      out.videoMs.push_back(Ms(pkt->pts, st->time_base));
      out.videoPackets.emplace_back(pkt->data, pkt->data + pkt->size);
      if (dec) {
        if (avcodec_send_packet(dec, pkt) < 0) {
          error = "picture " + std::to_string(out.videoMs.size()) + " does not decode";
          ok = false;
        }
        ok = ok && TakePictures(dec, frame, out);
      }
    } else if (pkt->stream_index == text) {
      out.texts.emplace_back(reinterpret_cast<const char*>(pkt->data), pkt->size);
      out.textMs.push_back(Ms(pkt->pts, st->time_base));
      out.textDurationMs.push_back(Ms(pkt->duration, st->time_base));
    }
    av_packet_unref(pkt);
  }
  if (ok && dec) {
    avcodec_send_packet(dec, nullptr);
    ok = TakePictures(dec, frame, out);
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&dec);
  avformat_close_input(&fmt);
  return ok;
}

}  // namespace zv::test
