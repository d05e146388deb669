#!/usr/bin/perl
# compact-pe-headers.pl LINKED OUTPUT
#
# Writes OUTPUT: the Windows image LINKED with its PE header moved to follow
# the 64-byte DOS header directly (the linker's DOS program goes; a 28-byte
# one in the DOS header's unused fields takes its place), the headers' size
# cut to the fewest file blocks that hold them, every section's data moved
# up by what that saves, and the checksum made anew. The import lookup
# tables go too, where the link put them at the end of a section: they are
# copies of the import address tables, which the loaders read the imported
# names from when a descriptor has no lookup table. Every other byte stays
# at its address; only file offsets change, and the image must hold none
# but the section table's (no symbol table, no line numbers, no
# certificate, no debug directory). An image it does not understand is
# refused: OUTPUT is then not written, and the exit status is 1.
use strict;
use warnings;
use FindBin;

# The PE header fields, as the installer and qzpack have them.
use constant do {
    my $layout = "$FindBin::RealBin/../pack/file_end.h";
    open my $in, '<', $layout or die "compact-pe-headers: cannot read $layout: $!\n";
    +{ map { /^constexpr uint32_t (PE\w+) = (?:0x([0-9A-F]+)|([0-9]+));/ ? ($1 => defined $2 ? hex $2 : $3) : () } <$in> };
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
refuse('no DOS header') if $size < PE_DOS_HEADER_SIZE || substr($image, 0, 2) ne 'MZ';
my $pe = u32(PE_HEADER_POINTER_OFFSET);
refuse("PE header at $pe, inside the DOS header") if $pe < PE_DOS_HEADER_SIZE;
refuse('no PE signature') if $pe + 4 > $size || u32($pe) != PE_SIGNATURE;
my $sections = u16($pe + PE_SECTION_COUNT_OFFSET);
refuse('a COFF symbol table') if u32($pe + PE_SYMBOL_TABLE_OFFSET) || u32($pe + PE_SYMBOL_COUNT_OFFSET);
my $optional_size = u16($pe + PE_OPTIONAL_SIZE_OFFSET);
my $optional      = $pe + PE_OPTIONAL_HEADER_OFFSET;
my $magic         = u16($optional);
refuse(sprintf 'optional header magic 0x%X', $magic) if $magic != PE32_MAGIC && $magic != PE32_PLUS_MAGIC;
my $directory_count_at = $optional + ($magic == PE32_MAGIC ? PE32_DIRECTORY_COUNT_OFFSET : PE32_PLUS_DIRECTORY_COUNT_OFFSET);
my $directories        = $directory_count_at + 4;
my $directory_count    = u32($directory_count_at);
refuse("$directory_count data directories") if $directory_count > 16;
refuse('optional header shorter than its directories')
    if $directories + PE_DIRECTORY_SIZE * $directory_count > $optional + $optional_size;

my $file_alignment = u32($optional + 36);
my $headers_size   = u32($optional + PE_HEADERS_SIZE_OFFSET);
my $table          = $optional + $optional_size;
my $headers_end    = $table + PE_SECTION_HEADER_SIZE * $sections;
refuse("file alignment $file_alignment") if $file_alignment < 512 || $file_alignment > 65536 || $file_alignment & ($file_alignment - 1);
refuse("headers of $headers_size bytes") if $headers_size % $file_alignment || $headers_size < $headers_end || $headers_size > $size;
refuse('bytes after the headers, before the first section') if substr($image, $headers_end, $headers_size - $headers_end) =~ /[^\0]/;
for my $entry (PE_SECURITY_DIRECTORY, PE_DEBUG_DIRECTORY) {
    next if $entry >= $directory_count;
    my $at = $directories + PE_DIRECTORY_SIZE * $entry;
    refuse("data directory $entry holds file offsets") if u32($at) || u32($at + 4);
}

lookup_tables_drop();

# The new layout: the PE header right after the DOS header, headers rounded
# up to the file alignment, everything after them moved up by the saving.
my $shift         = $pe - PE_DOS_HEADER_SIZE;
my $new_headers   = whole_blocks($headers_end - $shift);
my $saving        = $headers_size - $new_headers;
my $headers = substr($image, 0, PE_DOS_HEADER_SIZE) . substr($image, $pe, $headers_end - $pe);
substr($headers, PE_HEADER_POINTER_OFFSET, 4) = pack 'V', PE_DOS_HEADER_SIZE;
dos_program_write();
$headers .= "\0" x ($new_headers - length $headers);
my $new_optional = $optional - $shift;
substr($headers, $new_optional + PE_HEADERS_SIZE_OFFSET, 4) = pack 'V', $new_headers;

for my $i (0 .. $sections - 1) {
    my $header = $table + PE_SECTION_HEADER_SIZE * $i;
    my ($raw_size, $raw_at) = (u32($header + PE_SECTION_RAW_SIZE_OFFSET), u32($header + PE_SECTION_RAW_POINTER_OFFSET));
    refuse("section $i has relocations or line numbers") if u32($header + 24) || u32($header + 28) || u32($header + 32);
    next if $raw_size == 0 && $raw_at == 0;
    refuse("section $i lies outside the file's sections") if $raw_at < $headers_size || $raw_at + $raw_size > $size;
    substr($headers, $header - $shift + PE_SECTION_RAW_POINTER_OFFSET, 4) = pack 'V', $raw_at - $saving;
}

my $result = $headers . substr($image, $headers_size);
substr($result, $new_optional + 64, 4) = pack 'V', checksum($result, $new_optional + 64);

open my $out, '>:raw', $output or refuse("cannot write $output: $!");
print {$out} $result or refuse("cannot write $output: $!");
close $out or refuse("cannot write $output: $!");
chmod((stat $linked)[2] & 07777, $output) or refuse("cannot set the mode of $output: $!");

# The fewest bytes of whole file blocks that hold a length.
sub whole_blocks {
    my ($length) = @_;
    return int(($length + $file_alignment - 1) / $file_alignment) * $file_alignment;
}

# The section header that holds an address, and that address's file offset.
sub section_at {
    my ($rva) = @_;
    for my $i (0 .. $sections - 1) {
        my $header = $table + PE_SECTION_HEADER_SIZE * $i;
        my $start  = u32($header + PE_SECTION_ADDRESS_OFFSET);
        return $header if $rva >= $start && $rva < $start + u32($header + PE_SECTION_VIRTUAL_SIZE_OFFSET);
    }
    refuse(sprintf 'address 0x%X in no section', $rva);
}

sub file_at {
    my ($rva) = @_;
    my $header = section_at($rva);
    my $offset = $rva - u32($header + PE_SECTION_ADDRESS_OFFSET);
    refuse(sprintf 'address 0x%X beyond its section\'s file data', $rva) if $offset >= u32($header + PE_SECTION_RAW_SIZE_OFFSET);
    return u32($header + PE_SECTION_RAW_POINTER_OFFSET) + $offset;
}

# The bytes of one import lookup table, which must be those of the import
# address table beside it (a bound image's address table holds addresses,
# and its names are then in the lookup table alone).
sub lookup_table_length {
    my ($lookup, $addresses) = @_;
    my $entry = $magic == PE32_MAGIC ? 4 : 8;
    for (my $length = $entry; ; $length += $entry) {
        my $value = substr $image, file_at($lookup + $length - $entry), $entry;
        refuse('an import lookup table that differs from its address table')
            if $value ne substr($image, file_at($addresses + $length - $entry), $entry);
        return $length if $value eq "\0" x $entry;
    }
}

# True when a base relocation applies to a byte in [low, high).
sub relocated_within {
    my ($low, $high) = @_;
    return 0 if PE_RELOCATION_DIRECTORY >= $directory_count;
    my $entry = $directories + PE_DIRECTORY_SIZE * PE_RELOCATION_DIRECTORY;
    my ($rva, $length) = (u32($entry), u32($entry + 4));
    return 0 unless $rva;
    my ($at, $end) = (file_at($rva), file_at($rva) + $length);
    while ($at < $end) {
        my ($page, $block) = (u32($at), u32($at + 4));
        refuse("a base relocation block of $block bytes") if $block < 8 || $at + $block > $end;
        for (my $fix = $at + 8; $fix < $at + $block; $fix += 2) {
            my $value = u16($fix);
            my $where = $page + ($value & 0xFFF);
            return 1 if $value >> 12 && $where + 8 > $low && $where < $high;
        }
        $at += $block;
    }
    return 0;
}

# Cuts the import lookup tables off the end of their section: every
# descriptor's lookup table field becomes 0, the section's size ends where
# the tables began, and its file data shrinks to the blocks left.
sub lookup_tables_drop {
    return if PE_IMPORT_DIRECTORY >= $directory_count;
    my $directory = u32($directories + PE_DIRECTORY_SIZE * PE_IMPORT_DIRECTORY);
    return unless $directory;
    my (@fields, @tables);
    for (my $at = file_at($directory); ; $at += PE_IMPORT_DESCRIPTOR_SIZE) {
        my ($lookup, $name, $addresses) = (u32($at), u32($at + 12), u32($at + 16));
        last if !$lookup && !$name && !$addresses;
        refuse('an import descriptor without a lookup table, a name or an address table') if !$lookup || !$name || !$addresses;
        push @fields, $at;
        push @tables, [$lookup, $lookup + lookup_table_length($lookup, $addresses)];
    }
    return unless @tables;
    @tables = sort { $a->[0] <=> $b->[0] } @tables;
    my ($low, $high) = ($tables[0][0], $tables[0][1]);
    for my $t (@tables[1 .. $#tables]) {
        refuse('import lookup tables with other bytes between them') if $t->[0] != $high;
        $high = $t->[1];
    }
    my $header = section_at($low);
    my ($start, $raw_size, $raw_at) =
        map { u32($header + $_) } PE_SECTION_ADDRESS_OFFSET, PE_SECTION_RAW_SIZE_OFFSET, PE_SECTION_RAW_POINTER_OFFSET;
    refuse('import lookup tables that do not end their section') if $high != $start + u32($header + PE_SECTION_VIRTUAL_SIZE_OFFSET);
    refuse("a section of $raw_size bytes in the file") if $raw_size % $file_alignment;
    refuse('import lookup tables in the last section')
        unless grep { u32($table + PE_SECTION_HEADER_SIZE * $_ + PE_SECTION_ADDRESS_OFFSET) > $start } 0 .. $sections - 1;
    for my $entry (0 .. $directory_count - 1) {
        my ($rva, $length) = (u32($directories + PE_DIRECTORY_SIZE * $entry), u32($directories + PE_DIRECTORY_SIZE * $entry + 4));
        refuse("data directory $entry lies in the import lookup tables") if $rva && $rva < $high && $rva + $length > $low;
    }
    refuse('a base relocation in the import lookup tables') if relocated_within($low, $high);

    substr($image, $_, 4) = "\0\0\0\0" for @fields;
    my $kept     = $low - $start;
    my $new_size = whole_blocks($kept);
    my $cut      = $raw_size - $new_size;
    substr($image, $raw_at + $kept, $new_size - $kept) = "\0" x ($new_size - $kept);
    substr($image, $raw_at + $new_size, $cut) = '';
    $size = length $image;
    substr($image, $header + PE_SECTION_VIRTUAL_SIZE_OFFSET, 4) = pack 'V', $kept;
    substr($image, $header + PE_SECTION_RAW_SIZE_OFFSET, 4) = pack 'V', $new_size;
    for my $i (0 .. $sections - 1) {
        my $other = $table + PE_SECTION_HEADER_SIZE * $i + PE_SECTION_RAW_POINTER_OFFSET;
        substr($image, $other, 4) = pack 'V', u32($other) - $cut if u32($other) > $raw_at;
    }
    my $initialised = u32($optional + 8);
    substr($image, $optional + 8, 4) = pack 'V', $initialised > $cut ? $initialised - $cut : 0;
}

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
    refuse('no room for the DOS program') if $at + length $program > PE_HEADER_POINTER_OFFSET;
    substr($headers, 2, 8)  = pack 'v4', PE_DOS_HEADER_SIZE, 1, 0, $at / 16;  # last page, pages, relocations, header
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
