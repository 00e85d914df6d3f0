// SPDX-License-Identifier: GPL-3.0-or-later
// The sharp peer of bench/run.sh: every file of FOLDER shrunk to fit inside
// SIZE x SIZE, upright, metadata stripped (sharp's default), written in its
// own format into OUT. Two files in flight, one libvips thread each, as the
// other peers run.
//
//   node sharp-peer.mjs SHARP_FOLDER FOLDER OUT SIZE QUALITY
import { createRequire } from 'node:module';
import { readdirSync } from 'node:fs';
import { extname, join, parse } from 'node:path';

const [sharpFolder, folder, out, size, quality] = process.argv.slice(2);
const sharp = createRequire(join(sharpFolder, 'package.json'))('sharp');
sharp.concurrency(1);
sharp.cache(false);

const files = readdirSync(folder, { withFileTypes: true })
  .filter((entry) => entry.isFile())
  .map((entry) => entry.name)
  .sort();

async function shrink(name) {
  const png = extname(name).toLowerCase() === '.png';
  let image = sharp(join(folder, name))
    .autoOrient()
    .resize({ width: Number(size), height: Number(size), fit: 'inside' });
  image = png ? image.png() : image.jpeg({ quality: Number(quality) });
  await image.toFile(join(out, parse(name).name + (png ? '.png' : '.jpg')));
}

let next = 0;
async function worker() {
  while (next < files.length) await shrink(files[next++]);
}
await Promise.all([worker(), worker()]);
