#!/usr/bin/env python3
"""Writes mksfx's manual page from its own --help and --version, so the page
says what the program does and cannot fall behind it.
    make_manpage.py MKSFX OUT.1"""
import re
import subprocess
import sys


def roff(text):
    text = text.replace('\\', '\\e').replace('-', '\\-')
    return re.sub(r'^([.\'])', r'\\&\1', text, flags=re.M)


def main(mksfx, out):
    help_text = subprocess.run([mksfx, '--help'], check=True, capture_output=True, text=True).stdout
    version = subprocess.run([mksfx, '--version'], check=True, capture_output=True, text=True).stdout
    version = version.splitlines()[0].split(' ')[1]
    usage, rest = help_text.split('\n\n', 1)
    intro, rest = rest.split('\n\n', 1)
    options, closing = rest.split('\nExamples:\n', 1)
    examples, notes = closing.split('\n\n', 1)

    page = ['.TH MKSFX 1 "" "mksfx %s" "User Commands"' % version,
            '.SH NAME', 'mksfx \\- make self\\-extracting ZIP files for Windows',
            '.SH SYNOPSIS', '.nf', roff('\n'.join(l.strip() for l in usage.replace('Usage: ', '', 1).splitlines())), '.fi',
            '.SH DESCRIPTION', roff(intro.replace('\n', ' ')),
            '.SH OPTIONS']
    heading = False
    for line in options.splitlines():
        if not line.startswith(' '):
            # A heading may run on to a second line.
            if heading:
                page[-1] += ' ' + roff(line.rstrip(':'))
            else:
                page.append('.SS %s' % roff(line.rstrip(':')))
            heading = not line.endswith(':')
            continue
        heading = False
        m = re.match(r'  ([-/]\S*(?: \S+)*?)(?:\s{2,}(\S.*))?$', line)
        if m and not line.startswith('   '):
            page += ['.TP', '.B %s' % roff(m.group(1)), roff(m.group(2) or '')]
        elif not line.startswith('   ') and not (len(page) > 1 and page[-2] == '.PP'):
            page += ['.PP', roff(line.strip())]
        else:
            page.append(roff(line.strip()))
    page += ['.SH EXAMPLES', '.nf', roff(examples.rstrip('\n')), '.fi',
             '.SH ENVIRONMENT AND EXIT STATUS', roff(notes.strip().replace('\n', ' ')),
             '.SH SEE ALSO', 'The README of the project, which describes the file format, the stub and '
             'its switches in full.']
    open(out, 'w', encoding='utf-8').write('\n'.join(p for p in page if p != '') + '\n')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
