// Prints the beats Essentia's RhythmExtractor2013 (multifeature) finds in a
// song, one a line in seconds: the reference tracker beside this project's
// in the development set's table. The song comes on standard input as
// 44.1 kHz mono 32-bit float samples (devset decodes it with ffmpeg).
//
// usage: node essentia-beats.js < samples.f32
"use strict";

const { Essentia, EssentiaWASM } = require("essentia.js");

const chunks = [];
process.stdin.on("data", (chunk) => chunks.push(chunk));
process.stdin.on("end", () => {
  const bytes = Buffer.concat(chunks);
  const samples = new Float32Array(bytes.buffer, bytes.byteOffset, Math.floor(bytes.length / 4));
  const essentia = new Essentia(EssentiaWASM);
  const found = essentia.RhythmExtractor2013(essentia.arrayToVector(samples), 208, "multifeature", 40);
  const ticks = essentia.vectorToArray(found.ticks);
  process.stdout.write(Array.from(ticks, (t) => t.toFixed(4)).join("\n") + "\n");
});
