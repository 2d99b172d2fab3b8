#!/usr/bin/env node
// Walks a Unicode PST file with pst-extractor and prints one JSON object:
// every folder's path (names from below the root folder, joined by "/"),
// its item count and its attachment count, and the totals. Items and
// attachments that cannot be read are counted under "errors".
// Usage: node walk.js FILE
'use strict';

const { PSTFile } = require('pst-extractor');

// The library's own diagnostics go to stderr, so stdout is only the result.
console.log = (...args) => process.stderr.write(args.join(' ') + '\n');

function walkFolder(folder, path, out) {
  const entry = { path, items: 0, attachments: 0, errors: 0 };
  out.folders.push(entry);
  if (folder.contentCount > 0) {
    for (;;) {
      let item;
      try {
        item = folder.getNextChild();
      } catch (e) {
        entry.errors++;
        break;
      }
      if (!item) break;
      entry.items++;
      const count = typeof item.numberOfAttachments === 'number' ? item.numberOfAttachments : 0;
      for (let i = 0; i < count; i++) {
        try {
          const attachment = item.getAttachment(i);
          if (!attachment) throw new Error('no attachment');
          entry.attachments++;
        } catch (e) {
          entry.errors++;
        }
      }
    }
  }
  if (folder.hasSubfolders) {
    for (const child of folder.getSubFolders()) {
      walkFolder(child, path === '' ? child.displayName : path + '/' + child.displayName, out);
    }
  }
}

function main() {
  const file = process.argv[2];
  if (!file) {
    process.stderr.write('usage: node walk.js FILE\n');
    process.exit(2);
  }
  const out = { folders: [], items: 0, attachments: 0, errors: 0 };
  let pst;
  try {
    pst = new PSTFile(file);
    walkFolder(pst.getRootFolder(), '', out);
  } catch (e) {
    process.stderr.write('pst-extractor cannot read ' + file + ': ' + (e && e.message ? e.message : e) + '\n');
    process.exit(1);
  } finally {
    if (pst) pst.close();
  }
  for (const f of out.folders) {
    out.items += f.items;
    out.attachments += f.attachments;
    out.errors += f.errors;
  }
  process.stdout.write(JSON.stringify(out) + '\n');
}

main();
