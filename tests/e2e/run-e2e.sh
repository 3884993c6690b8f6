#!/usr/bin/env bash
# The end-to-end test: makes the sample folder, starts the demo service of the native build on a
# free loopback port, gives Wine an X display (the one in $DISPLAY when it answers, else a private
# Xvfb), runs the driver under Wine and stops everything again.
#   run-e2e.sh DRIVER.exe CLIENT.exe WINDOWS_BUILD_DIR
# The demo service is build/native/bin/dorvane-demo-service unless DORVANE_DEMO_SERVICE names
# another.
set -uo pipefail
driver="$(realpath "$1")"
client="$(realpath "$2")"
build="$(realpath "$3")"
here="$(cd "$(dirname "$0")/../.." && pwd)"
service="${DORVANE_DEMO_SERVICE:-$here/build/native/bin/dorvane-demo-service}"
if [ ! -x "$service" ]; then
  echo "run-e2e: no demo service at $service (build the native tree first, or set DORVANE_DEMO_SERVICE)" >&2
  exit 1
fi

work="$build/e2e-work"
samples="$work/samples"
rm -rf "$work"
mkdir -p "$samples/sub"

# Five documents, two real TIFFs (Group 4 fax and RGB LZW) and one PDF under a TIFF name.
/usr/bin/python3 - "$samples" <<'EOF' || { echo "run-e2e: could not make the samples" >&2; exit 1; }
import sys, shutil
from PIL import Image, ImageDraw
d = sys.argv[1]
def page(size, mode="RGB", text="Dorvane"):
    im = Image.new(mode, size, "white" if mode != "1" else 1)
    draw = ImageDraw.Draw(im)
    draw.rectangle([10, 10, size[0] - 10, size[1] - 10], outline=0 if mode == "1" else "navy", width=3)
    draw.text((20, 20), text, fill=0 if mode == "1" else "black")
    return im
page((300, 200), text="doc1").save(f"{d}/doc1.pdf")
page((300, 200), text="doc2").save(f"{d}/doc2.pdf")
page((300, 200), text="notes").save(f"{d}/sub/notes.pdf")
page((160, 120), text="photo").save(f"{d}/photo.png")
page((160, 120), text="scan").save(f"{d}/scan.jpg", quality=85)
page((640, 400), mode="1", text="fax").save(f"{d}/fax.tif", compression="group4")
page((200, 150), text="color").save(f"{d}/sub/color.tiff", compression="tiff_lzw")
shutil.copyfile(f"{d}/doc1.pdf", f"{d}/fake.tif")
EOF

source "$here/scripts/lib/demo-service.sh"
source "$here/scripts/lib/display-wine.sh"
dorvane_wine_env
cleanup() {
  dorvane_demo_stop
  dorvane_display_stop
}
trap cleanup EXIT
dorvane_demo_start "$service" "$work/service.log" || exit 1
url="$dorvane_demo_url"
dorvane_display || exit 1

"$here/scripts/wine-run" "$driver" --client="$client" --service="$url" --samples="$samples" \
  --work="$work" "${@:4}"
rc=$?

if [ "$rc" -ne 0 ]; then
  echo "run-e2e: driver failed ($rc); demo service log:" >&2
  tail -n 40 "$work/service.log" >&2
fi
exit "$rc"
