// Fills the notice template with npm carbone, so that bench_fill_list can time
// it beside veltrane on the same document and the same rows. carbone is found
// through NODE_PATH: the bench installs it in a cache folder, never in the tree.
//
//   node carbone_fill.js tags IN.odt OUT.odt
//     Writes OUT.odt: IN.odt with the nine [Placeholders] turned into carbone
//     tags such as {d.employeeName}.
//
//   node carbone_fill.js fill TEMPLATE.odt ROWS.json OUTDIR FORMAT FACTORIES WORKDIR MARK
//     Renders each row of ROWS.json (an array of objects with the nine facts)
//     to OUTDIR/<employeeId>.<FORMAT>. FORMAT odt is carbone alone; doc goes
//     through FACTORIES LibreOffice workers. WORKDIR holds carbone's temporary
//     files and the workers' profiles; MARK names their pipes, so the bench can
//     find every process carbone started. Prints one JSON line:
//     {"made", "seconds", "startSeconds"}.
//
// What is timed: from the first render asked for to the last file written.
// The workers are started and connected before that (startSeconds), as a
// carbone server keeps them; node's own start and loading carbone are not in
// either figure.

'use strict';

const fs = require('fs');
const path = require('path');

const placeholders = {
  '[EmployeeName]': 'employeeName',
  '[CurrentDate]': 'date',
  '[EmployeeID]': 'employeeId',
  '[JobTitle]': 'jobTitle',
  '[Manager]': 'manager',
  '[Department]': 'department',
  '[Infraction]': 'infraction',
  '[Improvement]': 'improvement',
  '[Consequences]': 'consequences',
};

function fail(message) {
  process.stderr.write(message + '\n');
  process.exit(1);
}

function readZip(file) {
  const yauzl = require('yauzl');
  return new Promise((resolve, reject) => {
    yauzl.open(file, { lazyEntries: true }, (err, zip) => {
      if (err) return reject(err);
      const entries = [];
      zip.on('error', reject);
      zip.on('end', () => resolve(entries));
      zip.on('entry', (entry) => {
        if (entry.fileName.endsWith('/')) {
          entries.push({ name: entry.fileName, data: null });
          return zip.readEntry();
        }
        zip.openReadStream(entry, (err, stream) => {
          if (err) return reject(err);
          const parts = [];
          stream.on('data', (d) => parts.push(d));
          stream.on('error', reject);
          stream.on('end', () => {
            entries.push({ name: entry.fileName, data: Buffer.concat(parts) });
            zip.readEntry();
          });
        });
      });
      zip.readEntry();
    });
  });
}

function writeZip(file, entries) {
  const yazl = require('yazl');
  const zip = new yazl.ZipFile();
  // An ODF package starts with its media type, stored, not compressed.
  const ordered = entries.filter((e) => e.name === 'mimetype')
    .concat(entries.filter((e) => e.name !== 'mimetype'));
  for (const e of ordered) {
    if (e.data === null) zip.addEmptyDirectory(e.name);
    else zip.addBuffer(e.data, e.name, { compress: e.name !== 'mimetype' });
  }
  zip.end();
  return new Promise((resolve, reject) => {
    zip.outputStream.pipe(fs.createWriteStream(file)).on('close', resolve).on('error', reject);
  });
}

async function tags(input, output) {
  const entries = await readZip(input);
  const found = new Set();
  for (const e of entries) {
    if (e.name !== 'content.xml' && e.name !== 'styles.xml') continue;
    let xml = e.data.toString('utf8');
    for (const [placeholder, key] of Object.entries(placeholders)) {
      if (!xml.includes(placeholder)) continue;
      found.add(placeholder);
      // convCRLF keeps a value's line breaks as line breaks, as veltrane does.
      xml = xml.split(placeholder).join('{d.' + key + ':convCRLF}');
    }
    e.data = Buffer.from(xml, 'utf8');
  }
  const missing = Object.keys(placeholders).filter((p) => !found.has(p));
  if (missing.length) fail('the template lacks ' + missing.join(' '));
  await writeZip(output, entries);
}

function render(carbone, template, row, format) {
  const options = format === 'odt' ? {} : { convertTo: format };
  return new Promise((resolve, reject) => {
    carbone.render(template, row, options, (err, result) => (err ? reject(err) : resolve(result)));
  });
}

async function fill(template, rowsFile, outDir, format, factories, workDir, mark) {
  const rows = JSON.parse(fs.readFileSync(rowsFile, 'utf8'));
  const carbone = require('carbone');
  const converter = require('carbone/lib/converter');
  fs.mkdirSync(outDir, { recursive: true });
  fs.mkdirSync(workDir, { recursive: true });
  carbone.set({ tempPath: workDir, renderPath: path.join(workDir, 'render'),
    templatePath: path.dirname(template) });

  // Stopped from outside: the workers go with us.
  for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
    process.on(signal, () => converter.exit(() => process.exit(1)));
  }

  let startSeconds = 0;
  if (format !== 'odt') {
    const begun = process.hrtime.bigint();
    await new Promise((resolve) => converter.init(
      { factories, startFactory: true, pipeNamePrefix: mark }, resolve));
    startSeconds = Number(process.hrtime.bigint() - begun) / 1e9;
  }

  // A few renders in flight for each worker, so none waits for a document.
  const inFlight = Math.max(4, 2 * factories);
  let next = 0;
  let made = 0;
  const begun = process.hrtime.bigint();
  async function worker() {
    while (next < rows.length) {
      const row = rows[next++];
      const result = await render(carbone, template, row, format);
      await fs.promises.writeFile(path.join(outDir, row.employeeId + '.' + format), result);
      ++made;
    }
  }
  await Promise.all(Array.from({ length: inFlight }, worker));
  const seconds = Number(process.hrtime.bigint() - begun) / 1e9;
  process.stdout.write(JSON.stringify({ made, seconds, startSeconds }) + '\n');
  await new Promise((resolve) => converter.exit(resolve));
}

const [command, ...args] = process.argv.slice(2);
let work;
if (command === 'tags' && args.length === 2) {
  work = tags(args[0], args[1]);
} else if (command === 'fill' && args.length === 7) {
  work = fill(args[0], args[1], args[2], args[3], Number(args[4]), args[5], args[6]);
} else {
  fail('usage: carbone_fill.js tags IN.odt OUT.odt\n' +
    '       carbone_fill.js fill TEMPLATE.odt ROWS.json OUTDIR odt|doc FACTORIES WORKDIR MARK');
}
work.then(() => process.exit(0), (err) => fail(String(err && err.stack ? err.stack : err)));
