<?xml version="1.0" encoding="UTF-8"?>
<!--
  Birchwood Retail's purchase orders (their store system's export, root BirchwoodOrder, or
  their order sheet, a workbook that arrives as QELEXCEL cells) into the standard form of
  ORDER.

  The routing tags travel along in ROUTING, in the order the sender wrote them, so that the
  recipients can still be read from the standard form. An order without an order number is
  refused: nobody could refer to it later.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:exsl="http://exslt.org/common" exclude-result-prefixes="exsl">
  <xsl:output method="xml" indent="yes" encoding="UTF-8"/>

  <xsl:variable name="routing"
      select="//SENDER | //CONTACT | //DOCTYPE-ID | //REQUISITIONER | //RECEIVER |
              //BUSINESSPARTNER | //BUS-PART-C | //BUS-PART-S | //USESDISTLIST | //QELSHOW"/>

  <xsl:template match="/">
    <xsl:if test="not(BirchwoodOrder or QELEXCEL)">
      <xsl:message terminate="yes">Not a Birchwood order: the root element is <xsl:value-of select="name(*)"/>, BirchwoodOrder was expected.</xsl:message>
    </xsl:if>
    <xsl:apply-templates select="BirchwoodOrder | QELEXCEL"/>
  </xsl:template>

  <!-- The order sheet (its first sheet): order number, dates and currency in B2 to B5, one
       line per row from row 8 (number, item, quantity, unit, price, description), read into the shape of the
       export and carried on from there. -->
  <xsl:template match="QELEXCEL">
    <xsl:variable name="sheet" select="WorkSheet[1]"/>
    <xsl:variable name="order">
      <BirchwoodOrder version="sheet">
        <Envelope><xsl:copy-of select="SENDER | DOCTYPE-ID | RECEIVER"/></Envelope>
        <PoHeader>
          <PoNo><xsl:value-of select="$sheet/Cell[@Row = '2' and @Column = 'B']"/></PoNo>
          <Issued><xsl:value-of select="$sheet/Cell[@Row = '3' and @Column = 'B']"/></Issued>
          <WantedBy><xsl:value-of select="$sheet/Cell[@Row = '4' and @Column = 'B']"/></WantedBy>
          <Currency><xsl:value-of select="$sheet/Cell[@Row = '5' and @Column = 'B']"/></Currency>
          <Buyer code="BWR"><Name>Birchwood Retail</Name></Buyer>
          <Vendor code="ALD"><Name>Alder Components</Name></Vendor>
          <Note>From the order sheet <xsl:value-of select="@WorkBook"/>.</Note>
        </PoHeader>
        <PoLines>
          <xsl:for-each select="$sheet/Cell[@Column = 'A' and number(@Row) &gt; 7]">
            <xsl:variable name="row" select="@Row"/>
            <xsl:variable name="cells" select="../Cell[@Row = $row]"/>
            <L no="{.}" sku="{$cells[@Column = 'B']}" qty="{$cells[@Column = 'C']}"
               uom="{$cells[@Column = 'D']}" price="{$cells[@Column = 'E']}">
              <xsl:value-of select="$cells[@Column = 'F']"/>
            </L>
          </xsl:for-each>
        </PoLines>
      </BirchwoodOrder>
    </xsl:variable>
    <xsl:apply-templates select="exsl:node-set($order)/BirchwoodOrder"/>
  </xsl:template>

  <xsl:template match="BirchwoodOrder">
    <xsl:variable name="head" select="PoHeader"/>
    <xsl:if test="normalize-space($head/PoNo) = ''">
      <xsl:message terminate="yes">The Birchwood order has no order number (PoHeader/PoNo).</xsl:message>
    </xsl:if>
    <ORDER>
      <ROUTING>
        <xsl:for-each select="$routing">
          <xsl:element name="{name()}"><xsl:value-of select="normalize-space(.)"/></xsl:element>
        </xsl:for-each>
      </ROUTING>
      <HEADER>
        <ORDERNUMBER><xsl:value-of select="normalize-space($head/PoNo)"/></ORDERNUMBER>
        <ORDERDATE><xsl:value-of select="$head/Issued"/></ORDERDATE>
        <REQUESTEDDELIVERY><xsl:value-of select="$head/WantedBy"/></REQUESTEDDELIVERY>
        <CURRENCY><xsl:value-of select="$head/Currency"/></CURRENCY>
        <PAYMENTTERMS><xsl:value-of select="$head/Terms"/></PAYMENTTERMS>
        <BUYER>
          <CODE><xsl:value-of select="$head/Buyer/@code"/></CODE>
          <NAME><xsl:value-of select="$head/Buyer/Name"/></NAME>
          <CONTACTNAME><xsl:value-of select="$head/Buyer/Contact"/></CONTACTNAME>
          <PHONE><xsl:value-of select="$head/Buyer/Phone"/></PHONE>
        </BUYER>
        <SUPPLIER>
          <CODE><xsl:value-of select="$head/Vendor/@code"/></CODE>
          <NAME><xsl:value-of select="$head/Vendor/Name"/></NAME>
        </SUPPLIER>
        <DELIVERYADDRESS>
          <NAME><xsl:value-of select="$head/ShipTo/Site"/></NAME>
          <xsl:for-each select="$head/ShipTo/Line">
            <STREET><xsl:value-of select="."/></STREET>
          </xsl:for-each>
          <POSTCODE><xsl:value-of select="$head/ShipTo/Zip"/></POSTCODE>
          <CITY><xsl:value-of select="$head/ShipTo/City"/></CITY>
          <COUNTRY><xsl:value-of select="$head/ShipTo/Country"/></COUNTRY>
        </DELIVERYADDRESS>
        <REMARK><xsl:value-of select="normalize-space($head/Note)"/></REMARK>
      </HEADER>
      <LINES>
        <xsl:for-each select="PoLines/L">
          <LINE number="{@no}">
            <ITEM><xsl:value-of select="@sku"/></ITEM>
            <DESCRIPTION><xsl:value-of select="normalize-space(.)"/></DESCRIPTION>
            <QUANTITY unit="{@uom}"><xsl:value-of select="@qty"/></QUANTITY>
            <UNITPRICE><xsl:value-of select="format-number(@price, '0.00')"/></UNITPRICE>
            <AMOUNT><xsl:value-of select="format-number(@qty * @price, '0.00')"/></AMOUNT>
          </LINE>
        </xsl:for-each>
      </LINES>
      <TOTAL lines="{count(PoLines/L)}">
        <xsl:call-template name="sum-lines">
          <xsl:with-param name="lines" select="PoLines/L"/>
        </xsl:call-template>
      </TOTAL>
    </ORDER>
  </xsl:template>

  <!-- Sum of quantity times price over the lines (XSLT 1.0 has no sum of products). -->
  <xsl:template name="sum-lines">
    <xsl:param name="lines"/>
    <xsl:param name="total" select="0"/>
    <xsl:choose>
      <xsl:when test="$lines">
        <xsl:call-template name="sum-lines">
          <xsl:with-param name="lines" select="$lines[position() &gt; 1]"/>
          <xsl:with-param name="total" select="$total + $lines[1]/@qty * $lines[1]/@price"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="format-number($total, '0.00')"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
