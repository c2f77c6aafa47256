#!/usr/bin/env python3
"""Reads one .eml file with Python's own MIME parser and prints what a mail program would see,
as JSON: the top-level headers (their names in order; the recipients as "Name <address>" each), the parser's defects,
the text part, and each attachment (its payload decoded into OUTDIR/attachment<N>)."""
import email
import email.policy
import email.utils
import json
import sys


def main(path, outdir):
    with open(path, 'rb') as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    defects = [type(d).__name__ for d in message.defects]
    for name in ('To', 'Cc', 'Bcc', 'Subject'):
        if message[name] is not None:
            defects += [type(d).__name__ for d in message[name].defects]
    attachments = []
    for index, part in enumerate(message.iter_attachments()):
        payload = part.get_payload(decode=True)  # decoding notes its own defects
        defects += [type(d).__name__ for d in part.defects]
        target = f'{outdir}/attachment{index}'
        with open(target, 'wb') as out:
            out.write(payload)
        attachments.append({
            'type': part.get_content_type(),
            'filename': part.get_filename(),
            'disposition': part.get_content_disposition(),
            'encoding': part.get('Content-Transfer-Encoding'),
            'file': target,
        })
    body = message.get_body(preferencelist=('plain',))
    parts = [part.get_content_type() for part in message.iter_parts()]

    def recipients(name):
        header = message[name]
        return [str(address) for address in header.addresses] if header is not None else []
    date = email.utils.parsedate_to_datetime(message['Date']) if message['Date'] else None
    print(json.dumps({
        'type': message.get_content_type(),
        'mime_version': message['MIME-Version'],
        'from': message['From'].addresses[0].addr_spec if message['From'] else None,
        'message_id': message['Message-ID'],
        'date': date.timestamp() if date else None,
        'to': recipients('To'),
        'cc': recipients('Cc'),
        'bcc': recipients('Bcc'),
        'headers': list(message.keys()),
        'subject': str(message['Subject']) if message['Subject'] is not None else None,
        'body': body.get_content() if body is not None else None,
        'body_charset': body.get_content_charset() if body is not None else None,
        'parts': parts,
        'defects': defects,
        'attachments': attachments,
    }))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
