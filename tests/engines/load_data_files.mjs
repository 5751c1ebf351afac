// Loads every data file the program wrote into the two engine loaders game developers use,
// PixiJS 8 (its Assets loader, multi-page atlases included) and Phaser 3 (its JSON hash atlas
// parser), and checks that each gives back every frame as the data file describes it: the
// rectangle in the page, the trimmed box in the untrimmed frame, the anchor, the page and its size,
// and that the page's size is the size of the PNG file beside the data file.
//
//   node load_data_files.mjs NODE_MODULES FOLDER...
//
// Every .json file under the folders is a data file. Those that name each other in
// meta.related_multi_packs are the pages of one atlas: PixiJS loads the first page and, through
// that list, the others; Phaser gets one texture with every page as a source, as its multi-atlas
// loader builds it. Neither loader is told anything the data file does not say.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';

const [given, ...folders] = process.argv.slice(2);
const modules = path.resolve(given ?? '');
if (!given || folders.length === 0) {
    console.error('usage: node load_data_files.mjs NODE_MODULES FOLDER...');
    process.exit(2);
}
const problems = [];
const problem = (where, text) => problems.push(`${where}: ${text}`);

function dataFiles(folder) {
    const found = [];
    for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
        const at = path.join(folder, entry.name);
        if (entry.isDirectory()) found.push(...dataFiles(at));
        else if (entry.name.endsWith('.json')) found.push(at);
    }
    return found.sort();
}

// A page's width and height, from the header of its PNG, BMP or JPEG file.
function pageSize(file) {
    const b = fs.readFileSync(file);
    if (b.length >= 24 && b.toString('latin1', 1, 4) === 'PNG' &&
        b.toString('latin1', 12, 16) === 'IHDR')
        return { width: b.readUInt32BE(16), height: b.readUInt32BE(20) };
    if (b.length >= 26 && b.toString('latin1', 0, 2) === 'BM')
        return { width: b.readInt32LE(18), height: Math.abs(b.readInt32LE(22)) };
    // JPEG: the frame header (SOF0 to SOF15 but DHT, JPG and DAC) among the markers.
    for (let at = 2; b[0] === 0xff && b[1] === 0xd8 && at + 9 <= b.length;) {
        const marker = b[at + 1];
        if (marker >= 0xc0 && marker <= 0xcf && ![0xc4, 0xc8, 0xcc].includes(marker))
            return { width: b.readUInt16BE(at + 7), height: b.readUInt16BE(at + 5) };
        at += 2 + b.readUInt16BE(at + 2);
    }
    return null;
}

// The pictures PixiJS's texture loader takes (its loadTextures): no BMP.
const pixiPictures = /\.(jpeg|jpg|png|webp|avif)$/i;

// The atlases: each data file with the pages its related_multi_packs names.
function atlases(files) {
    const pages = new Map();
    for (const file of files) {
        const data = JSON.parse(fs.readFileSync(file, 'utf8'));
        const related = data.meta?.related_multi_packs ?? [];
        for (const name of related) {
            if (typeof name !== 'string' || path.basename(name) !== name)
                problem(file, `related_multi_packs names ${JSON.stringify(name)}`);
            else if (!fs.existsSync(path.join(path.dirname(file), name)))
                problem(file, `related_multi_packs names ${name}, which does not exist`);
        }
        const image = path.join(path.dirname(file), data.meta?.image ?? '');
        const size = fs.existsSync(image) ? pageSize(image) : null;
        if (!size) problem(file, `no page ${data.meta?.image}`);
        else if (size.width !== data.meta.size?.w || size.height !== data.meta.size?.h)
            problem(file, `meta.size ${JSON.stringify(data.meta.size)} but the page is ` +
                              `${size.width} x ${size.height}`);
        pages.set(file, { file, data, related, size });
    }
    const groups = [];
    const placed = new Set();
    for (const page of pages.values()) {
        if (placed.has(page.file)) continue;
        const group = [page, ...page.related.map(name => pages.get(
                                   path.join(path.dirname(page.file), name)))].filter(Boolean);
        group.forEach(p => placed.add(p.file));
        // Each page names all the others, and only them.
        for (const p of group) {
            const others = group.filter(o => o !== p).map(o => path.basename(o.file)).sort();
            if (JSON.stringify([...p.related].sort()) !== JSON.stringify(others))
                problem(p.file, `related_multi_packs ${JSON.stringify(p.related)}, the other ` +
                                    `pages are ${JSON.stringify(others)}`);
        }
        groups.push(group);
    }
    return groups;
}

const same = (a, b) => Math.abs(a - b) < 1e-9;

// What the data file says of a frame, as both loaders should read it.
function described(entry) {
    const r = entry.frame;
    const [w, h] = entry.rotated ? [r.h, r.w] : [r.w, r.h];
    const trimmed = entry.trimmed === true;
    return {
        x: r.x, y: r.y, w, h, trimmed,
        sourceW: trimmed ? entry.sourceSize.w : w, sourceH: trimmed ? entry.sourceSize.h : h,
        trimX: trimmed ? entry.spriteSourceSize.x : 0,
        trimY: trimmed ? entry.spriteSourceSize.y : 0,
        anchor: entry.anchor ?? null, pivot: entry.anchor ?? entry.pivot ?? null,
    };
}

function checkInPage(page, name, d) {
    const s = page.size;
    if (s && (d.x < 0 || d.y < 0 || d.x + d.w > s.width || d.y + d.h > s.height))
        problem(page.file, `${name} lies outside the page`);
}

async function pixiLoader() {
    globalThis.navigator ??= { userAgent: 'node' };
    const pixi = await import(pathToFileURL(path.join(modules, 'pixi.js/lib/index.mjs')));
    const { DOMAdapter, Assets, extensions, ExtensionType, LoaderParserPriority } = pixi;
    const local = url => decodeURIComponent(new URL(url, 'file:///').pathname);
    // Files are read from the disk instead of fetched; a page is a texture of its PNG's size
    // (the loader needs no pixels to cut frames), for the kinds of picture its own loader takes.
    DOMAdapter.set({
        getNavigator: () => ({ userAgent: 'node', gpu: null }),
        getBaseUrl: () => 'file:///',
        fetch: async url => {
            const bytes = fs.readFileSync(local(url));
            return { ok: true, status: 200, json: async () => JSON.parse(bytes.toString('utf8')),
                     text: async () => bytes.toString('utf8') };
        },
        createCanvas: () => { throw new Error('no canvas under Node'); },
    });
    extensions.remove(pixi.loadTextures);
    extensions.add({
        extension: { type: ExtensionType.LoadParser, priority: LoaderParserPriority.High },
        name: 'pngPage',
        id: 'pngPage',
        test: url => pixiPictures.test(url),
        load: async url => {
            const size = pageSize(local(url));
            if (!size) throw new Error(`${url} is not a picture`);
            return new pixi.Texture({ source: new pixi.TextureSource({ ...size, label: url }) });
        },
    });
    await Assets.init({ skipDetections: true });
    return { Assets };
}

async function checkPixi(pixi, group) {
    const first = group[0];
    let sheet;
    try {
        sheet = await pixi.Assets.load(first.file);
    } catch (error) {
        problem(first.file, `PixiJS did not load it: ${error.message}`);
        return;
    }
    const sheets = [sheet, ...(sheet.linkedSheets ?? [])];
    if (sheets.length !== group.length)
        problem(first.file, `PixiJS loaded ${sheets.length} pages, the atlas has ${group.length}`);
    for (const page of group) {
        const loaded = sheets.find(s => s.data === page.data ||
                                        s.data?.meta?.image === page.data.meta?.image);
        if (!loaded) {
            problem(page.file, 'PixiJS did not load this page');
            continue;
        }
        if (page.size && (loaded.textureSource.width !== page.size.width ||
                          loaded.textureSource.height !== page.size.height))
            problem(page.file, 'PixiJS took another picture as its page');
        for (const [name, entry] of Object.entries(page.data.frames)) {
            const t = loaded.textures[name];
            const d = described(entry);
            checkInPage(page, name, d);
            if (!t) {
                problem(page.file, `PixiJS has no frame ${name}`);
                continue;
            }
            const trim = t.trim ? [t.trim.x, t.trim.y, t.trim.width, t.trim.height] : null;
            const anchor = entry.anchor ? [t.defaultAnchor?.x, t.defaultAnchor?.y] : null;
            if (t.frame.x !== d.x || t.frame.y !== d.y || t.frame.width !== d.w ||
                t.frame.height !== d.h || t.orig.width !== d.sourceW ||
                t.orig.height !== d.sourceH ||
                JSON.stringify(trim) !==
                    JSON.stringify(d.trimmed ? [d.trimX, d.trimY, d.w, d.h] : null) ||
                JSON.stringify(anchor) !==
                    JSON.stringify(d.anchor ? [d.anchor.x, d.anchor.y] : null))
                problem(page.file, `PixiJS reads ${name} as frame ${t.frame.x},${t.frame.y} ` +
                                       `${t.frame.width}x${t.frame.height}, source ` +
                                       `${t.orig.width}x${t.orig.height}, trim ${trim}, anchor ` +
                                       `${anchor}: not ${JSON.stringify(entry)}`);
            // Every page's frame can be had by its name alone, as a game asks for it.
            if (pixi.Assets.get(name) !== t) problem(page.file, `PixiJS's cache lacks ${name}`);
        }
        for (const [animation, names] of Object.entries(page.data.animations ?? {})) {
            const textures = loaded.animations[animation] ?? [];
            if (textures.length !== names.length ||
                textures.some((t, i) => t !== loaded.textures[names[i]]))
                problem(page.file, `PixiJS's animation ${animation} is not its frames in order`);
        }
    }
}

function phaserLoader() {
    // Phaser's texture code only needs these to exist under Node.
    globalThis.window ??= globalThis;
    globalThis.HTMLCanvasElement ??= class {};
    globalThis.HTMLImageElement ??= class {};
    const require = createRequire(path.join(modules, 'phaser', 'package.json'));
    return { Texture: require('phaser/src/textures/Texture'),
             parsers: require('phaser/src/textures/parsers') };
}

function checkPhaser(phaser, group, key) {
    const sources = group.map(p => ({ width: p.size?.width ?? 0, height: p.size?.height ?? 0 }));
    const texture = new phaser.Texture({ game: { renderer: null, config: {} } }, key, sources);
    const warnings = [];
    const warn = console.warn;
    console.warn = (...words) => warnings.push(words.join(' '));
    try {
        group.forEach((page, index) => phaser.parsers.JSONHash(texture, index, page.data));
    } finally {
        console.warn = warn;
    }
    for (const text of warnings) problem(group[0].file, `Phaser: ${text}`);
    group.forEach((page, index) => {
        for (const [name, entry] of Object.entries(page.data.frames)) {
            if (!texture.has(name)) {
                problem(page.file, `Phaser has no frame ${name}`);
                continue;
            }
            const f = texture.get(name);
            const d = described(entry);
            const pivot = f.customPivot ? [f.pivotX, f.pivotY] : null;
            const source = texture.source[f.sourceIndex];
            if (f.sourceIndex !== index || source.width !== page.size?.width ||
                source.height !== page.size?.height || f.cutX !== d.x || f.cutY !== d.y ||
                f.cutWidth !== d.w || f.cutHeight !== d.h || f.realWidth !== d.sourceW ||
                f.realHeight !== d.sourceH || f.trimmed !== d.trimmed ||
                (d.trimmed && (f.x !== d.trimX || f.y !== d.trimY)) ||
                (pivot === null) !== (d.pivot === null) ||
                (pivot && !(same(pivot[0], d.pivot.x) && same(pivot[1], d.pivot.y))))
                problem(page.file, `Phaser reads ${name} as page ${f.sourceIndex} ` +
                                       `${f.cutX},${f.cutY} ${f.cutWidth}x${f.cutHeight}, source ` +
                                       `${f.realWidth}x${f.realHeight}, trimmed ${f.trimmed} at ` +
                                       `${f.x},${f.y}, pivot ${pivot}: not ` +
                                       JSON.stringify(entry));
        }
    });
}

const files = folders.map(f => path.resolve(f)).flatMap(dataFiles);
const groups = atlases(files);
const pixi = await pixiLoader();
const phaser = phaserLoader();
let frames = 0, bitmaps = 0;
for (const [index, group] of groups.entries()) {
    // A BMP sheet (a BMP strip's) is left to Phaser, which takes whatever the browser shows.
    if (group.every(page => pixiPictures.test(page.data.meta?.image ?? '')))
        await checkPixi(pixi, group);
    else
        bitmaps += 1;
    checkPhaser(phaser, group, `atlas${index}`);
    frames += group.reduce((n, page) => n + Object.keys(page.data.frames ?? {}).length, 0);
    // The next atlas may reuse frame names: PixiJS's cache keeps one texture a name.
    pixi.Assets.cache.reset();
    pixi.Assets.loader.reset();
}
for (const line of problems.slice(0, 40)) console.log(line);
const several = groups.filter(g => g.length > 1).length;
console.log(`${files.length} data files, ${groups.length} atlases (${several} of several pages), ` +
            `${frames} frames loaded by PixiJS 8 and Phaser 3 (${bitmaps} of BMP pages by Phaser ` +
            `only): ${problems.length} problems`);
process.exit(problems.length || files.length === 0 ? 1 : 0);
