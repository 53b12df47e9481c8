// A Go host driving renders through the C entry functions with cgo, as a Go
// service does: handle texts, JSON lists, text results freed with C.free.
// Exit code 0 when every check holds, 1 otherwise.
package main

/*
#cgo LDFLAGS: -lQuorvaneGo
#include <malloc.h>
#include <stdlib.h>
#include "task/HostEntry.h"
*/
import "C"

import (
	"encoding/json"
	"flag"
	"fmt"
	"image/png"
	"os"
	"os/exec"
	"path/filepath"
	"strconv"
	"strings"
	"sync"
	"unsafe"
)

var failures int

func check(ok bool, format string, args ...interface{}) {
	if !ok {
		failures++
		fmt.Fprintf(os.Stderr, "FAIL: "+format+"\n", args...)
	}
}

// take copies a text result and frees it, as the header asks of every host.
func take(text *C.char) string {
	if text == nil {
		check(false, "a text result was null")
		return ""
	}
	s := C.GoString(text)
	C.free(unsafe.Pointer(text))
	return s
}

// host wraps the C functions for one handle text; C texts live until the call returns.
type host struct{ handle string }

func withText(s string, f func(*C.char)) {
	c := C.CString(s)
	defer C.free(unsafe.Pointer(c))
	f(c)
}

func create(template, output string, key int) host {
	var h string
	withText(template, func(t *C.char) {
		withText(output, func(o *C.char) { h = take(C.nCreateRenderProcess(t, o, C.int(key))) })
	})
	return host{h}
}

func (h host) call(f func(handle *C.char) C.int) int {
	var r C.int
	withText(h.handle, func(c *C.char) { r = f(c) })
	return int(r)
}

func (h host) setText(set func(*C.char, *C.char) C.int, text string) int {
	return h.call(func(c *C.char) C.int {
		var r C.int
		withText(text, func(t *C.char) { r = set(c, t) })
		return r
	})
}

func (h host) setters() []int {
	results := []int{
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetReplaceableFiles(c, t) }, `["a.png"]`),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetDynamicSubFiles(c, t) }, `[]`),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetDynamicSubTexts(c, t) }, `[]`),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetAssetPath(c, t) }, "/assets"),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetScrivanePath(c, t) }, "/scrivane"),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetScript(c, t, t, t) }, ""),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetSnapShotPath(c, t) }, ""),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetSnapShotFrames(c, t) }, `[1,2]`),
		h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetMusicFile(c, t, 0) }, ""),
		h.call(func(c *C.char) C.int { return C.nRenderProcessSetMusicLoop(c, 1) }),
		h.call(func(c *C.char) C.int { return C.nRenderProcessSetMusicVolume(c, 0.5) }),
		h.call(func(c *C.char) C.int { return C.nRenderProcessSetMusicFadeoutDuration(c, 2) }),
		h.call(func(c *C.char) C.int { return C.nRenderProcessSetBitrateControl(c, 0.3) }),
		h.setText(func(c, t *C.char) C.int {
			return C.nRenderProcessAddWatermark(c, t, 0, 0, 0, 1, 1, 1)
		}, `["w.png"]`),
	}
	return results
}

func (h host) start() int {
	return h.call(func(c *C.char) C.int { return C.nRenderProcessStart(c) })
}

func (h host) status() string {
	var s string
	withText(h.handle, func(c *C.char) { s = take(C.nRenderProcessStatus(c)) })
	return s
}

func (h host) info() string {
	var s string
	withText(h.handle, func(c *C.char) { s = take(C.nRenderProcessRenderedInfo(c)) })
	return s
}

func (h host) release() { withText(h.handle, func(c *C.char) { C.nRenderProcessRelease(c) }) }

func handlesThatNameNothing() {
	for _, handle := range []string{"0", "", "abc"} {
		h := host{handle}
		for i, r := range h.setters() {
			check(r == 1, "handle %q: setter %d gave %d, want 1", handle, i, r)
		}
		check(h.start() == 1, "handle %q: start did not give 1", handle)
		check(h.status() == "", "handle %q: status not empty", handle)
		check(h.info() == "", "handle %q: rendered info not empty", handle)
		h.release()
	}
}

func settersAndRelease() {
	h := create("/nowhere/", "/nowhere/out.mp4", 3)
	_, err := strconv.ParseUint(h.handle, 10, 64)
	check(err == nil && h.handle != "0", "handle %q is no decimal number", h.handle)
	check(h.status() == "", "status before start: %q", h.status())
	check(h.info() == "{}", "rendered info before start: %q", h.info())
	for i, r := range h.setters() {
		check(r == 0, "setter %d gave %d, want 0", i, r)
	}
	empty := h.setText(func(c, t *C.char) C.int {
		return C.nRenderProcessAddWatermark(c, t, 0, 0, 0, 1, 1, 1)
	}, `[]`)
	check(empty == 1, "watermark list [] gave %d, want 1", empty)
	h.release()
	h.release() // harmless
	for i, r := range h.setters() {
		check(r == 1, "released handle: setter %d gave %d, want 1", i, r)
	}
	check(h.start() == 1 && h.status() == "", "released handle still names a render")
}

func writeSolidTemplate(dir string, frames int) string {
	folder := filepath.Join(dir, "solid") + "/"
	if err := os.MkdirAll(folder, 0o755); err != nil {
		panic(err)
	}
	config := fmt.Sprintf(`{"type":1,"version":"1.0.0","fps":25,"main":"main","assets":[],`+
		`"comps":[{"name":"main","size":[64,48],"bg":"#FF8000","duration":%d,"layers":[]}]}`, frames)
	if err := os.WriteFile(folder+"config.json", []byte(config), 0o644); err != nil {
		panic(err)
	}
	return folder
}

func renderedInfo(h host) map[string]string {
	text := h.info()
	info := map[string]string{}
	check(json.Unmarshal([]byte(text), &info) == nil, "rendered info %q is no JSON object of texts", text)
	return info
}

// The folder exists, since the render's message queue key is made from it,
// but holds no config.json.
func missingTemplateIsCancelled(dir string) {
	folder := filepath.Join(dir, "empty") + "/"
	if err := os.MkdirAll(folder, 0o755); err != nil {
		panic(err)
	}
	h := create(folder, filepath.Join(dir, "empty.mp4"), 8)
	defer h.release()
	check(h.start() == 0, "start of a missing template did not give 0")
	check(h.status() == "cancel", "missing template: status %q, want cancel", h.status())
	info := renderedInfo(h)
	for _, key := range []string{"duration", "encodeTime", "renderTime", "totalTime"} {
		check(info[key] == "0.000000", "missing template: %s = %q", key, info[key])
	}
}

func frameCount(file string) string {
	out, err := exec.Command("ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
		"-show_entries", "stream=nb_read_frames", "-of", "default=nw=1:nk=1", file).Output()
	if err != nil {
		return "ffprobe failed: " + err.Error()
	}
	return strings.TrimSpace(string(out))
}

// The 8-bit colour in the middle of a PNG file.
func centrePixel(file string) (r, g, b uint32, ok bool) {
	f, err := os.Open(file)
	if err != nil {
		return 0, 0, 0, false
	}
	defer f.Close()
	img, err := png.Decode(f)
	if err != nil {
		return 0, 0, 0, false
	}
	bounds := img.Bounds()
	r, g, b, _ = img.At((bounds.Min.X+bounds.Max.X)/2, (bounds.Min.Y+bounds.Max.Y)/2).RGBA()
	return r >> 8, g >> 8, b >> 8, true
}

func near(value, want uint32) bool { return value+1 >= want && value <= want+1 }

// Two goroutines render, each on its own handle and key: at once, or one after
// the other when sequential.
func renderTemplate(dir string, sequential bool) {
	folder := writeSolidTemplate(dir, 10)
	var wg sync.WaitGroup
	for key := 1; key <= 2; key++ {
		wg.Add(1)
		go func(key int) {
			defer wg.Done()
			output := filepath.Join(dir, fmt.Sprintf("out%d.mp4", key))
			h := create(folder, output, 20+key)
			defer h.release()
			snapshot := filepath.Join(dir, fmt.Sprintf("snap%d-", key))
			check(h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetSnapShotPath(c, t) }, snapshot) == 0,
				"snapshot path refused")
			check(h.setText(func(c, t *C.char) C.int { return C.nRenderProcessSetSnapShotFrames(c, t) }, "[9]") == 0,
				"snapshot frames refused")
			check(h.start() == 0, "render %d: start did not give 0", key)

			var size C.size_t
			withText(h.handle, func(c *C.char) {
				status := C.nRenderProcessStatus(c)
				size = C.malloc_usable_size(unsafe.Pointer(status))
				check(take(status) == "end", "render %d: status not end", key)
			})
			check(size >= 12, "render %d: status buffer of %d bytes", key, size)

			info := renderedInfo(h)
			check(len(info) == 4, "render %d: rendered info %v", key, info)
			check(info["duration"] == "0.400000", "render %d: duration %q, want 0.400000", key, info["duration"])
			for _, k := range []string{"encodeTime", "renderTime", "totalTime"} {
				v, err := strconv.ParseFloat(info[k], 64)
				check(err == nil && v >= 0 && strings.Count(info[k], ".") == 1 && len(strings.Split(info[k], ".")[1]) == 6,
					"render %d: %s = %q", key, k, info[k])
			}
			check(frameCount(output) == "10", "render %d: %s frames, want 10", key, frameCount(output))
			r, g, b, ok := centrePixel(snapshot + "9.png")
			check(ok && near(r, 255) && near(g, 128) && near(b, 0),
				"render %d: snapshot of frame 9 shows %d,%d,%d (read %v), want the template's #FF8000", key, r, g, b, ok)
		}(key)
		if sequential {
			wg.Wait()
		}
	}
	wg.Wait()
}

func main() {
	sequential := flag.Bool("sequential", false, "render one template at a time")
	flag.Parse()
	dir, err := os.MkdirTemp("", "qvgo")
	if err != nil {
		panic(err)
	}
	defer os.RemoveAll(dir)

	handlesThatNameNothing()
	settersAndRelease()
	missingTemplateIsCancelled(dir)
	renderTemplate(dir, *sequential)

	if failures > 0 {
		fmt.Fprintf(os.Stderr, "%d checks failed\n", failures)
		os.RemoveAll(dir)
		os.Exit(1)
	}
	fmt.Println("go host: all checks passed")
}
