#!/usr/bin/python3
"""A small RTSP server for the network camera tests.

Serves a moving test picture (a ball, or the --pattern asked for), coded live as H.264, H.265 or MJPEG, at
rtsp://127.0.0.1:PORT/cam, optionally behind basic authentication.  Prints
"PORT <n>" once it listens (--port 0 takes any free port) and runs until it
is killed.
"""
import argparse
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

ENCODERS = {
    "h264": "x264enc tune=zerolatency speed-preset=ultrafast key-int-max={fps} "
    "! rtph264pay name=pay0 pt=96 config-interval=1",
    "h265": "x265enc tune=zerolatency speed-preset=ultrafast key-int-max={fps} "
    "! rtph265pay name=pay0 pt=96 config-interval=1",
    "mjpeg": "jpegenc quality=80 ! rtpjpegpay name=pay0 pt=26",
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--codec", choices=sorted(ENCODERS), default="h264")
    ap.add_argument("--width", type=int, default=320)
    ap.add_argument("--height", type=int, default=240)
    ap.add_argument("--fps", type=int, default=25)
    # smpte with --speed N: colour bars that slide N pixels a picture, a
    # motion every zone sees.
    ap.add_argument("--pattern", default="ball")
    ap.add_argument("--speed", type=int, default=0)
    ap.add_argument("--user", default="")
    ap.add_argument("--password", default="")
    args = ap.parse_args()

    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))

    launch = (
        f"( videotestsrc is-live=true pattern={args.pattern} horizontal-speed={args.speed} "
        f"! video/x-raw,width={args.width},height={args.height},framerate={args.fps}/1 "
        "! videoconvert ! video/x-raw,format=I420 ! " + ENCODERS[args.codec].format(fps=args.fps) + " )"
    )
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch)
    # A pipeline of its own for every client: shared media races when
    # clients of both transports arrive at once.
    factory.set_shared(False)

    if args.user:
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", args.user)
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
        server.set_auth(auth)
        permissions = GstRtspServer.RTSPPermissions()
        permissions.add_role(args.user)
        permissions.add_permission_for_role(args.user, "media.factory.access", True)
        permissions.add_permission_for_role(args.user, "media.factory.construct", True)
        factory.set_permissions(permissions)

    server.get_mount_points().add_factory("/cam", factory)
    if server.attach(None) == 0:
        print("cannot listen", file=sys.stderr, flush=True)
        return 1
    print(f"PORT {server.get_bound_port()}", flush=True)
    GLib.MainLoop().run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
