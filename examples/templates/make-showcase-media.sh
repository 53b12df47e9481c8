#!/usr/bin/env bash
# Makes the media of the showcase template with the ffmpeg program and writes
# its per-frame transform data. The results are committed; run this only to
# remake them.
set -euo pipefail
cd "$(dirname "$0")/showcase"
mkdir -p assets datas
ff() { ffmpeg -y -v error "$@"; }

# A 2-second test pattern clip, 320x180 at 25 fps.
ff -f lavfi -i testsrc2=size=320x180:rate=25:duration=2 -c:v libx264 -pix_fmt yuv420p -b:v 150k assets/clip.mp4

# A disc with soft edges and an alpha channel: the track matte.
ff -f lavfi -i color=white:s=256x256 -frames:v 1 \
   -vf "format=rgba,geq=r=255:g=255:b=255:a='255*clip((120-hypot(X-128,Y-128))/4,0,1)'" assets/circle.png

# Eight frames of a spark whose colour turns: an image sequence.
for i in 0 1 2 3 4 5 6 7; do
  ff -f lavfi -i color=black:s=64x64 -frames:v 1 \
     -vf "format=rgba,geq=r='128+127*cos(${i}*0.785)':g='128+127*sin(${i}*0.785)':b=255:a='255*clip((28-hypot(X-32,Y-32))/3,0,1)'" \
     "assets/spark_${i}.png"
done

# Five seconds of a soft two-note chord as the template's music.
ff -f lavfi -i "aevalsrc=0.2*sin(2*PI*220*t)+0.15*sin(2*PI*330*t)*(0.5+0.5*sin(2*PI*0.5*t)):s=44100:d=5" \
   -c:a aac -b:a 48k music.aac

# 125 frames of a circular orbit for the badge composition layer.
awk 'BEGIN {
  printf "[";
  for (f = 0; f < 125; f++) {
    a = f / 125 * 6.2831853;
    printf "%s{\"a\":[200,200],\"p\":[%.2f,%.2f],\"s\":[%.3f,%.3f],\"r\":%.2f,\"t\":1}",
           (f ? "," : ""), 640 + 300 * cos(a), 360 + 180 * sin(a), 0.6 + 0.2 * sin(2 * a), 0.6 + 0.2 * sin(2 * a), f * 2.88;
  }
  printf "]\n";
}' > datas/orbit.json
