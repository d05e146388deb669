#!/usr/bin/perl
# compact-pe-headers.pl LINKED OUTPUT
#
# Writes OUTPUT: the Windows image LINKED with its PE header moved to follow
# the 64-byte DOS header directly (the linker's DOS program goes; a 28-byte
# one in the DOS header's unused fields takes its place), the headers' size
# cut to the fewest file blocks that hold them, every section's data moved
# up by what that saves, and the checksum made anew. Every section keeps its
# bytes at its addresses; only file offsets change, and the image must hold
# none but the section table's (no symbol table, no line numbers, no
# certificate, no debug directory). An image it does not understand is
# refused: OUTPUT is then not written, and the exit status is 1.
use strict;
use warnings;

use constant {
    DOS_HEADER_SIZE  => 64,
    NEW_HEADER_FIELD => 0x3C,
    FILE_HEADER_SIZE => 20,
    SECTION_SIZE     => 40,
    PE32_MAGIC       => 0x10B,
    PE32_PLUS_MAGIC  => 0x20B,
    SECURITY_ENTRY   => 4,
    DEBUG_ENTRY      => 6,
};

my ($linked, $output) = @ARGV;
unless (defined $output && @ARGV == 2) {
    print STDERR "usage: compact-pe-headers.pl LINKED OUTPUT\n";
    exit 1;
}

sub refuse {
    unlink $output;
    print STDERR "compact-pe-headers: $linked: $_[0]; not rewritten\n";
    exit 1;
}

open my $in, '<:raw', $linked or refuse("cannot read: $!");
my $image = do { local $/; <$in> };
close $in;
my $size = length $image;

sub u16 { my ($at) = @_; refuse("cut short at $at") if $at + 2 > $size; unpack 'v', substr($image, $at, 2) }
sub u32 { my ($at) = @_; refuse("cut short at $at") if $at + 4 > $size; unpack 'V', substr($image, $at, 4) }

# The PE headers' layout, located and checked.
refuse('no DOS header') if $size < DOS_HEADER_SIZE || substr($image, 0, 2) ne 'MZ';
my $pe = u32(NEW_HEADER_FIELD);
refuse("PE header at $pe, inside the DOS header") if $pe < DOS_HEADER_SIZE;
refuse('no PE signature') if $pe + 4 > $size || substr($image, $pe, 4) ne "PE\0\0";
my $file_header = $pe + 4;
my $sections    = u16($file_header + 2);
refuse('a COFF symbol table') if u32($file_header + 8) || u32($file_header + 12);
my $optional_size = u16($file_header + 16);
my $optional      = $file_header + FILE_HEADER_SIZE;
my $magic         = u16($optional);
refuse(sprintf 'optional header magic 0x%X', $magic) if $magic != PE32_MAGIC && $magic != PE32_PLUS_MAGIC;
my $directory_count_at = $optional + ($magic == PE32_MAGIC ? 92 : 108);
my $directories        = $directory_count_at + 4;
my $directory_count    = u32($directory_count_at);
refuse("$directory_count data directories") if $directory_count > 16;
refuse('optional header shorter than its directories') if $directories + 8 * $directory_count > $optional + $optional_size;

my $file_alignment = u32($optional + 36);
my $headers_size   = u32($optional + 60);
my $table          = $optional + $optional_size;
my $headers_end    = $table + SECTION_SIZE * $sections;
refuse("file alignment $file_alignment") if $file_alignment < 512 || $file_alignment > 65536 || $file_alignment & ($file_alignment - 1);
refuse("headers of $headers_size bytes") if $headers_size % $file_alignment || $headers_size < $headers_end || $headers_size > $size;
refuse('bytes after the headers, before the first section') if substr($image, $headers_end, $headers_size - $headers_end) =~ /[^\0]/;
for my $entry (SECURITY_ENTRY, DEBUG_ENTRY) {
    next if $entry >= $directory_count;
    refuse("data directory $entry holds file offsets") if u32($directories + 8 * $entry) || u32($directories + 8 * $entry + 4);
}

# The new layout: the PE header right after the DOS header, headers rounded
# up to the file alignment, everything after them moved up by the saving.
my $shift         = $pe - DOS_HEADER_SIZE;
my $new_headers   = int(($headers_end - $shift + $file_alignment - 1) / $file_alignment) * $file_alignment;
my $saving        = $headers_size - $new_headers;
my $headers = substr($image, 0, DOS_HEADER_SIZE) . substr($image, $pe, $headers_end - $pe);
substr($headers, NEW_HEADER_FIELD, 4) = pack 'V', DOS_HEADER_SIZE;
dos_program_write();
$headers .= "\0" x ($new_headers - length $headers);
my $new_optional = $optional - $shift;
substr($headers, $new_optional + 60, 4) = pack 'V', $new_headers;

for my $i (0 .. $sections - 1) {
    my $header = $table + SECTION_SIZE * $i;
    my ($raw_size, $raw_at) = (u32($header + 16), u32($header + 20));
    refuse("section $i has relocations or line numbers") if u32($header + 24) || u32($header + 28) || u32($header + 32);
    next if $raw_size == 0 && $raw_at == 0;
    refuse("section $i lies outside the file's sections") if $raw_at < $headers_size || $raw_at + $raw_size > $size;
    substr($headers, $header - $shift + 20, 4) = pack 'V', $raw_at - $saving;
}

my $result = $headers . substr($image, $headers_size);
substr($result, $new_optional + 64, 4) = pack 'V', checksum($result, $new_optional + 64);

open my $out, '>:raw', $output or refuse("cannot write $output: $!");
print {$out} $result or refuse("cannot write $output: $!");
close $out or refuse("cannot write $output: $!");
chmod((stat $linked)[2] & 07777, $output) or refuse("cannot set the mode of $output: $!");

# The linker's DOS program goes, so the DOS header gets one of its own in the
# fields Windows ignores (0x20 to 0x3B); otherwise DOS would run the PE
# header as code. DOS loads the file's first 64 bytes less a 32-byte header
# right after the 256-byte program segment prefix, where DS points on entry:
# the program prints that it needs Windows and exits with status 1.
sub dos_program_write {
    my $at      = 0x20;
    my $message = "Needs Windows\r\n\$";
    my $program = pack('C v C9',
        0xBA, 0x100 + 12,          # mov dx, the message: 12 bytes into the program
        0xB4, 0x09, 0xCD, 0x21,    # mov ah, 9; int 21h
        0xB8, 0x01, 0x4C,          # mov ax, 4C01h
        0xCD, 0x21) . $message;    # int 21h
    refuse('no room for the DOS program') if $at + length $program > NEW_HEADER_FIELD;
    substr($headers, 2, 8)  = pack 'v4', DOS_HEADER_SIZE, 1, 0, $at / 16;  # last page, pages, relocations, header
    substr($headers, 0x14, 4) = pack 'v2', 0, 0;                           # ip, cs
    substr($headers, $at, length $program) = $program;
}

# The image checksum: the file's 16-bit little-endian words summed with the
# carries folded back in, the checksum field counted as zero, plus the
# file's length.
sub checksum {
    my ($bytes, $field) = @_;
    my $copy = $bytes;
    substr($copy, $field, 4) = "\0\0\0\0";
    $copy .= "\0" if length($copy) % 2;
    my $sum = 0;
    $sum += $_ for unpack 'v*', $copy;
    $sum = ($sum & 0xFFFF) + ($sum >> 16) while $sum >> 16;
    return ($sum + length $bytes) & 0xFFFFFFFF;
}
