// SPDX-License-Identifier: MIT
// Reads an Outlook message file with @kenjiuno/msgreader (installed into tests/node_modules by
// scripts/setup.sh) and prints what that reader understood, as JSON on one line:
// the texts and times of the message, its recipients, its attachments (size and SHA-256 of the data)
// and, for an attached mail, the same again: one line per file. Times are ISO 8601 in UTC; a missing value
// is null. Usage: node readmsg.js FILE.msg...
'use strict';

const fs = require('fs');
const crypto = require('crypto');
const MsgReader = require('@kenjiuno/msgreader').default;
const { decompressRTF } = require('@kenjiuno/decompressrtf');

function orNull(value) {
    return value === undefined ? null : value;
}

function isoTime(text) {
    return text === undefined ? null : new Date(text).toISOString();
}

function readMessage(reader, fields) {
    return {
        messageClass: orNull(fields.messageClass),
        subject: orNull(fields.subject),
        normalizedSubject: orNull(fields.normalizedSubject),
        senderName: orNull(fields.senderName),
        senderEmail: orNull(fields.senderEmail),
        senderAddressType: orNull(fields.senderAddressType),
        body: orNull(fields.body),
        // PR_HTML is binary (the reader's `html`); a string PR_BODY_HTML would be `bodyHtml`.
        bodyHtml: fields.html !== undefined ? Buffer.from(fields.html).toString('utf8') : orNull(fields.bodyHtml),
        rtf: fields.compressedRtf !== undefined
            ? Buffer.from(decompressRTF(Array.from(fields.compressedRtf))).toString('latin1')
            : null,
        headers: orNull(fields.headers),
        creationTime: isoTime(fields.creationTime),
        clientSubmitTime: isoTime(fields.clientSubmitTime),
        messageDeliveryTime: isoTime(fields.messageDeliveryTime),
        lastModificationTime: isoTime(fields.lastModificationTime),
        messageFlags: orNull(fields.messageFlags),
        internetCodepage: orNull(fields.internetCodepage),
        recipients: (fields.recipients || []).map(r => ({
            name: orNull(r.name),
            email: orNull(r.email),
            smtpAddress: orNull(r.smtpAddress),
            addressType: orNull(r.addressType),
            type: orNull(r.recipType),
        })),
        attachments: (fields.attachments || []).map(a => readAttachment(reader, a)),
    };
}

function readAttachment(reader, a) {
    const out = {
        fileName: orNull(a.fileName),
        fileNameShort: orNull(a.fileNameShort),
        extension: orNull(a.extension),
        displayName: orNull(a.name),
        mimeType: orNull(a.attachMimeTag),
    };
    if (a.innerMsgContent) {
        out.embedded = readMessage(reader, a.innerMsgContentFields);
    } else {
        const content = Buffer.from(reader.getAttachment(a).content);
        out.size = content.length;
        out.sha256 = crypto.createHash('sha256').update(content).digest('hex');
    }
    return out;
}

const paths = process.argv.slice(2);
if (paths.length === 0) {
    process.stderr.write('usage: node readmsg.js FILE.msg...\n');
    process.exit(2);
}
for (const path of paths) {
    const bytes = fs.readFileSync(path);
    const reader = new MsgReader(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
    const fields = reader.getFileData();
    if (fields.error) {
        process.stderr.write(`readmsg: ${path}: ${fields.error}\n`);
        process.exit(1);
    }
    process.stdout.write(JSON.stringify(readMessage(reader, fields)) + '\n');
}
