// The texture packer the atlas row is compared with: free-tex-packer-core (npm), in one Node
// process that stays up between its turns, so that neither Node's start nor the loading of its
// modules is counted (as ours' start under Wine is not).
//
//   node packer_peer.js NODE_MODULES
//
// Each line on the standard input is a request in JSON: {"frames": [PNG file, ...], "out":
// folder, "name": texture name, "options": {packer options}}. The packer reads the frames' files,
// packs them, and its pages and data files are written to the folder; the answer is one line of
// JSON: {"us": the whole turn's time, "cpu_us": the process's processor time meanwhile (all its
// threads), "pages": [[width, height], ...]}.
'use strict';
const fs = require('fs');
const path = require('path');
const readline = require('readline');

const { packAsync } = require(path.join(path.resolve(process.argv[2]), 'free-tex-packer-core'));

async function turn(request) {
    const cpu = process.cpuUsage();
    const start = process.hrtime.bigint();
    const images = request.frames.map(file => ({ path: path.basename(file),
                                                  contents: fs.readFileSync(file) }));
    const files = await packAsync(images, { ...request.options, textureName: request.name });
    fs.mkdirSync(request.out, { recursive: true });
    const pages = [];
    for (const file of files) {
        fs.writeFileSync(path.join(request.out, file.name), file.buffer);
        if (file.name.endsWith('.json')) {
            const size = JSON.parse(file.buffer.toString('utf8')).meta.size;
            pages.push([size.w, size.h]);
        }
    }
    const us = Number(process.hrtime.bigint() - start) / 1000;
    const used = process.cpuUsage(cpu);
    return { us, cpu_us: used.user + used.system, pages };
}

const lines = readline.createInterface({ input: process.stdin });
(async () => {
    for await (const line of lines) {
        if (!line.trim()) continue;
        const answer = await turn(JSON.parse(line));
        process.stdout.write(JSON.stringify(answer) + '\n');
    }
})().catch(error => {
    console.error(error);
    process.exit(1);
});
